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
      {"BindingGenericEvent",
       0x2A500213,
       sizeof(BindingGenericEvent),
       "Represents generic data for an event.",
       {"$builtin"},
       {"data: object #AF98C378 (Event data)"}},
      {"BindingCallbackEvent",
       0x4B3E42BB,
       sizeof(BindingCallbackEvent),
       "Represents the parameters of a call to a provided callback.",
       {"$builtin"},
       {"id: uint32 #3494B562 (ID of the callback being invoked)",
        "parameters: vector<object> #E980F126 (Callback parameters)"}},
      {"BindingGenericAsyncEvent",
       0x78B7AC8F,
       sizeof(BindingGenericAsyncEvent),
       "Represents generic data for an asynchronous event.",
       {"$builtin", "async"},
       {"asyncToken: uint32 #3494B562 (Asynchronous operation token)",
        "data: object #AF98C378 (Event data)"}},
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

  const std::shared_ptr<const EventInfo> callback = registry.FindEvent("OnCallback");
  ASSERT_NE(callback, nullptr);
  EXPECT_EQ(callback->payload, registry.FindTypeByName("BindingCallbackEvent"));
  EXPECT_EQ(callback->description, "Fired when a callback is invoked.");
  EXPECT_EQ(callback->tags, std::vector<std::string>{"$builtin"});
}

}  // namespace
}  // namespace Quarn
