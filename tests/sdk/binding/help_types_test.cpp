#include "sdk/binding/help_types.h"

#include <gtest/gtest.h>

#include "sdk/binding/type_registry.h"
#include "tests/support/type_text.h"

namespace Quarn {
namespace {

using Texts = std::vector<std::string>;

// Each help structure is found by name and by identifier, holds its members in order with their native
// types, and refers to the nested help structures, which resolves only when those were registered first.
TEST(HelpTypesTest, StructuresAreRegisteredWithTheirMembers) {
  const char* const kTypeId = "BindingFullTypeIdentifier #88B6D4CA";
  const auto typeId = [&](const char* name) { return std::string(name) + ": " + kTypeId; };
  const Texts tags = {"$builtin", "help"};
  const test::ExpectedType expected[] = {
      {"BindingFullTypeIdentifier",
       0x88B6D4CA,
       sizeof(BindingFullTypeIdentifier),
       "Describes the type of a value.",
       tags,
       {"type: string #2757680B", "elementType: string #2757680B"}},
      {"BindingFullArgumentHelp",
       0x65FF9F6F,
       sizeof(BindingFullArgumentHelp),
       "Describes a function parameter.",
       tags,
       {"name: string #2757680B", "description: string #2757680B", typeId("type"),
        "optional: bool #6AB1187C"}},
      {"BindingFullFunctionHelp",
       0x835D167A,
       sizeof(BindingFullFunctionHelp),
       "Describes a function.",
       tags,
       {"name: string #2757680B", "nameSpace: string #2757680B",
        "arguments: vector<BindingFullArgumentHelp> #AE376D12", typeId("returns"),
        "description: string #2757680B", "help: string #2757680B", "threadSafe: bool #6AB1187C",
        "async: string #2757680B", "tags: vector<string> #BFDBCD22"}},
      {"BindingFullEnumValueHelp",
       0xD0706E0C,
       sizeof(BindingFullEnumValueHelp),
       "Describes an enumerator.",
       tags,
       {"name: string #2757680B", "description: string #2757680B", "value: int32 #1C4DE261"}},
      {"BindingFullFieldHelp",
       0x5E9DFDF6,
       sizeof(BindingFullFieldHelp),
       "Describes a member of a struct.",
       tags,
       {"name: string #2757680B", "description: string #2757680B", "offset: uint32 #3494B562", typeId("type"),
        "optional: bool #6AB1187C"}},
      {"BindingFullTypeHelp",
       0x7534AFEA,
       sizeof(BindingFullTypeHelp),
       "Describes a struct or enum type.",
       tags,
       {"name: string #2757680B", "nameSpace: string #2757680B", "size: uint32 #3494B562",
        "description: string #2757680B", "tags: vector<string> #BFDBCD22",
        "fields: vector<BindingFullFieldHelp> #91BDEEC6",
        "values: vector<BindingFullEnumValueHelp> #F613EC9E"}},
      {"BindingFullEventHelp",
       0x6178093A,
       sizeof(BindingFullEventHelp),
       "Describes an event.",
       tags,
       {"name: string #2757680B", "nameSpace: string #2757680B", typeId("type"),
        "description: string #2757680B", "tags: vector<string> #BFDBCD22"}},
      {"BindingFullApiHelp",
       0x7DFB1102,
       sizeof(BindingFullApiHelp),
       "Describes the exposed native API.",
       tags,
       {"functions: vector<BindingFullFunctionHelp> #334BF406",
        "types: vector<BindingFullTypeHelp> #E98B65D6", "events: vector<BindingFullEventHelp> #C8AF01A6"}},
  };
  TypeRegistry registry;
  registry.Initialize();
  for (const test::ExpectedType& type : expected) {
    test::ExpectRegistered(registry, type);
    EXPECT_FALSE(registry.FindTypeByName(type.name)->isEnum);
  }
}

TEST(HelpTypesTest, HelpFormatHasExactlyItsTwoEnumerators) {
  TypeRegistry registry;
  registry.Initialize();
  test::ExpectRegistered(registry, {"BindingHelpFormat",
                                    0x2698AA94,
                                    sizeof(BindingHelpFormat),
                                    "Help format for binding functions and types.",
                                    {"$builtin", "help"},
                                    {"Epytext=2: Python epytext format", "Full=1: Native help format"}});
  EXPECT_TRUE(registry.FindTypeByName("BindingHelpFormat")->isEnum);
}

}  // namespace
}  // namespace Quarn
