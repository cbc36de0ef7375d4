#include "sdk/binding/builtin_types.h"

#include <gtest/gtest.h>

#include "sdk/binding/type_registry.h"
#include "tests/support/type_text.h"

namespace Quarn {
namespace {

TEST(BuiltinTypesTest, RegisteredWithTheirMembersAndEnumerators) {
  const test::ExpectedType expected[] = {
      {"BindingAsyncState",
       0x4B896D21,
       sizeof(BindingAsyncState),
       "Possible states of an asynchronous operation.",
       {"$builtin", "async"},
       {"Cancelled=3: The operation was cancelled",
        "Cancelling=2: A request to cancel the operation has been made",
        "Failed=5: The operation encountered an error", "None=0: Invalid state",
        "Running=1: The operation is in flight", "Succeeded=4: The operation completed successfully"}},
      {"BindingAsyncFailureEvent",
       0x2DB89656,
       sizeof(BindingAsyncFailureEvent),
       "Represents a failed asynchronous operation.",
       {"$builtin", "async"},
       {"asyncToken: uint32 #3494B562 (Asynchronous operation token)",
        "error: string #2757680B (Error message)"}},
      {"BindingAsyncCancelEvent",
       0x96EAAF44,
       sizeof(BindingAsyncCancelEvent),
       "Represents a cancelled asynchronous operation.",
       {"$builtin", "async"},
       {"asyncToken: uint32 #3494B562 (Asynchronous operation token)"}},
  };
  TypeRegistry registry;
  registry.Initialize();
  for (const test::ExpectedType& type : expected)
    test::ExpectRegistered(registry, type);
  EXPECT_TRUE(registry.FindTypeByName("BindingAsyncState")->isEnum);
  EXPECT_EQ(registry.FindEnumName(0x4B896D21, 4), "Succeeded");
}

}  // namespace
}  // namespace Quarn
