#include "sdk/binding/builtin_types.h"

#include <cstddef>

#include "sdk/binding/type_registry.h"

namespace Quarn {
namespace {

void RegisterAsyncState(TypeRegistry& registry) {
  struct Enumerator {
    const char* name;
    BindingAsyncState value;
    const char* description;
  };
  static constexpr Enumerator kEnumerators[] = {
      {"None", BindingAsyncState::None, "Invalid state"},
      {"Running", BindingAsyncState::Running, "The operation is in flight"},
      {"Cancelling", BindingAsyncState::Cancelling, "A request to cancel the operation has been made"},
      {"Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled"},
      {"Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully"},
      {"Failed", BindingAsyncState::Failed, "The operation encountered an error"},
  };
  TypeBuilder builder = registry.RegisterType<BindingAsyncState>("BindingAsyncState");
  for (const Enumerator& e : kEnumerators)
    builder.AddEnumValue(e.name, static_cast<std::int32_t>(e.value), e.description);
  builder.SetDescription("Possible states of an asynchronous operation.").AddTag("$builtin").AddTag("async");
}

void RegisterAsyncFailureEvent(TypeRegistry& registry) {
  using Event = BindingAsyncFailureEvent;
  registry.RegisterType<Event>("BindingAsyncFailureEvent")
      .AddField<decltype(Event::asyncToken)>("asyncToken", offsetof(Event, asyncToken),
                                             "Asynchronous operation token")
      .AddField<decltype(Event::error)>("error", offsetof(Event, error), "Error message")
      .SetDescription("Represents a failed asynchronous operation.")
      .AddTag("$builtin")
      .AddTag("async");
}

void RegisterAsyncCancelEvent(TypeRegistry& registry) {
  using Event = BindingAsyncCancelEvent;
  registry.RegisterType<Event>("BindingAsyncCancelEvent")
      .AddField<decltype(Event::asyncToken)>("asyncToken", offsetof(Event, asyncToken),
                                             "Asynchronous operation token")
      .SetDescription("Represents a cancelled asynchronous operation.")
      .AddTag("$builtin")
      .AddTag("async");
}

}  // namespace

void RegisterBuiltinTypes(TypeRegistry& registry) {
  RegisterAsyncState(registry);
  // BindingGenericEvent, BindingCallbackEvent and BindingGenericAsyncEvent, whose members hold a
  // BindingProperty, register here, in that order, once that value type is part of the SDK.
  RegisterAsyncFailureEvent(registry);
  RegisterAsyncCancelEvent(registry);
  // The event "OnCallback" (payload BindingCallbackEvent, "Fired when a callback is invoked.", tag
  // "$builtin") registers here, after every builtin type.
}

}  // namespace Quarn
