// The SDK's builtin types: generic and callback event payloads, the state of an asynchronous operation
// and the events that report how one ended, and the event "OnCallback". They are registered by
// TypeRegistry::Initialize(), after the API help types.

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/type_identifier.h"

namespace Quarn {

class TypeRegistry;

// Possible states of an asynchronous operation.
enum class BindingAsyncState : std::int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

// Generic data for an event.
struct BindingGenericEvent {
  BindingProperty data;
};

// The parameters of a call to a provided callback.
struct BindingCallbackEvent {
  std::uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

// Generic data for an asynchronous event.
struct BindingGenericAsyncEvent {
  std::uint32_t asyncToken = 0;
  BindingProperty data;
};

// A failed asynchronous operation.
struct BindingAsyncFailureEvent {
  std::uint32_t asyncToken = 0;
  std::string error;
};

// A cancelled asynchronous operation.
struct BindingAsyncCancelEvent {
  std::uint32_t asyncToken = 0;
};

// clang-format off
template <> struct TypeTraits<BindingAsyncState> : EnumTypeTraits<0x4B896D21> {};
template <> struct TypeTraits<BindingGenericEvent> : StructTypeTraits<0x2A500213> {};
template <> struct TypeTraits<BindingCallbackEvent> : StructTypeTraits<0x4B3E42BB> {};
template <> struct TypeTraits<BindingGenericAsyncEvent> : StructTypeTraits<0x78B7AC8F> {};
template <> struct TypeTraits<BindingAsyncFailureEvent> : StructTypeTraits<0x2DB89656> {};
template <> struct TypeTraits<BindingAsyncCancelEvent> : StructTypeTraits<0x96EAAF44> {};
// clang-format on

// Registers the builtin types and events, tagged "$builtin".
void RegisterBuiltinTypes(TypeRegistry& registry);

}  // namespace Quarn
