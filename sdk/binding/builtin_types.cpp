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

void RegisterGenericEvent(TypeRegistry& registry) {
  using Event = BindingGenericEvent;
  registry.RegisterType<Event>("BindingGenericEvent")
      .AddField<decltype(Event::data)>("data", offsetof(Event, data), "Event data")
      .SetDescription("Represents generic data for an event.")
      .AddTag("$builtin");
}

void RegisterCallbackEvent(TypeRegistry& registry) {
  using Event = BindingCallbackEvent;
  registry.RegisterType<Event>("BindingCallbackEvent")
      .AddField<decltype(Event::id)>("id", offsetof(Event, id), "ID of the callback being invoked")
      .AddField<decltype(Event::parameters)>("parameters", offsetof(Event, parameters), "Callback parameters")
      .SetDescription("Represents the parameters of a call to a provided callback.")
      .AddTag("$builtin");
}

void RegisterGenericAsyncEvent(TypeRegistry& registry) {
  using Event = BindingGenericAsyncEvent;
  registry.RegisterType<Event>("BindingGenericAsyncEvent")
      .AddField<decltype(Event::asyncToken)>("asyncToken", offsetof(Event, asyncToken),
                                             "Asynchronous operation token")
      .AddField<decltype(Event::data)>("data", offsetof(Event, data), "Event data")
      .SetDescription("Represents generic data for an asynchronous event.")
      .AddTag("$builtin")
      .AddTag("async");
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
  RegisterGenericEvent(registry);
  RegisterCallbackEvent(registry);
  RegisterGenericAsyncEvent(registry);
  RegisterAsyncFailureEvent(registry);
  RegisterAsyncCancelEvent(registry);
  registry.RegisterEvent("OnCallback", registry.FindTypeByName("BindingCallbackEvent"))
      .SetDescription("Fired when a callback is invoked.")
      .AddTag("$builtin");
}

}  // namespace Quarn
