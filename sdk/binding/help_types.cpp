#include "sdk/binding/help_types.h"

#include <cstddef>
#include <string_view>

#include "sdk/binding/type_registry.h"

namespace Quarn {
namespace {

// A help structure's registration, described and tagged; the caller adds its members.
template <class Struct>
TypeBuilder RegisterHelpType(TypeRegistry& registry, std::string_view name, std::string_view description) {
  TypeBuilder builder = registry.RegisterType<Struct>(name);
  builder.SetDescription(description).AddTag("$builtin").AddTag("help");
  return builder;
}

}  // namespace

// Names each member by its C++ name and takes its type and offset from the structure, so that the three
// cannot disagree.
#define QUARN_HELP_MEMBER(Struct, member) \
  AddField<decltype(Struct::member)>(#member, offsetof(Struct, member))

void RegisterHelpTypes(TypeRegistry& registry) {
  RegisterHelpType<BindingHelpFormat>(registry, "BindingHelpFormat",
                                      "Help format for binding functions and types.")
      .AddEnumValue("Full", static_cast<std::int32_t>(BindingHelpFormat::Full), "Native help format")
      .AddEnumValue("Epytext", static_cast<std::int32_t>(BindingHelpFormat::Epytext),
                    "Python epytext format");

  using TypeId = BindingFullTypeIdentifier;
  RegisterHelpType<TypeId>(registry, "BindingFullTypeIdentifier", "Describes the type of a value.")
      .QUARN_HELP_MEMBER(TypeId, type)
      .QUARN_HELP_MEMBER(TypeId, elementType);

  using Argument = BindingFullArgumentHelp;
  RegisterHelpType<Argument>(registry, "BindingFullArgumentHelp", "Describes a function parameter.")
      .QUARN_HELP_MEMBER(Argument, name)
      .QUARN_HELP_MEMBER(Argument, description)
      .QUARN_HELP_MEMBER(Argument, type)
      .QUARN_HELP_MEMBER(Argument, optional);

  using Function = BindingFullFunctionHelp;
  RegisterHelpType<Function>(registry, "BindingFullFunctionHelp", "Describes a function.")
      .QUARN_HELP_MEMBER(Function, name)
      .QUARN_HELP_MEMBER(Function, nameSpace)
      .QUARN_HELP_MEMBER(Function, arguments)
      .QUARN_HELP_MEMBER(Function, returns)
      .QUARN_HELP_MEMBER(Function, description)
      .QUARN_HELP_MEMBER(Function, help)
      .QUARN_HELP_MEMBER(Function, threadSafe)
      .QUARN_HELP_MEMBER(Function, async)
      .QUARN_HELP_MEMBER(Function, tags);

  using EnumValue = BindingFullEnumValueHelp;
  RegisterHelpType<EnumValue>(registry, "BindingFullEnumValueHelp", "Describes an enumerator.")
      .QUARN_HELP_MEMBER(EnumValue, name)
      .QUARN_HELP_MEMBER(EnumValue, description)
      .QUARN_HELP_MEMBER(EnumValue, value);

  using Field = BindingFullFieldHelp;
  RegisterHelpType<Field>(registry, "BindingFullFieldHelp", "Describes a member of a struct.")
      .QUARN_HELP_MEMBER(Field, name)
      .QUARN_HELP_MEMBER(Field, description)
      .QUARN_HELP_MEMBER(Field, offset)
      .QUARN_HELP_MEMBER(Field, type)
      .QUARN_HELP_MEMBER(Field, optional);

  using Type = BindingFullTypeHelp;
  RegisterHelpType<Type>(registry, "BindingFullTypeHelp", "Describes a struct or enum type.")
      .QUARN_HELP_MEMBER(Type, name)
      .QUARN_HELP_MEMBER(Type, nameSpace)
      .QUARN_HELP_MEMBER(Type, size)
      .QUARN_HELP_MEMBER(Type, description)
      .QUARN_HELP_MEMBER(Type, tags)
      .QUARN_HELP_MEMBER(Type, fields)
      .QUARN_HELP_MEMBER(Type, values);

  using Event = BindingFullEventHelp;
  RegisterHelpType<Event>(registry, "BindingFullEventHelp", "Describes an event.")
      .QUARN_HELP_MEMBER(Event, name)
      .QUARN_HELP_MEMBER(Event, nameSpace)
      .QUARN_HELP_MEMBER(Event, type)
      .QUARN_HELP_MEMBER(Event, description)
      .QUARN_HELP_MEMBER(Event, tags);

  using Api = BindingFullApiHelp;
  RegisterHelpType<Api>(registry, "BindingFullApiHelp", "Describes the exposed native API.")
      .QUARN_HELP_MEMBER(Api, functions)
      .QUARN_HELP_MEMBER(Api, types)
      .QUARN_HELP_MEMBER(Api, events);
}

#undef QUARN_HELP_MEMBER

}  // namespace Quarn
