// The SDK's builtin types: the state of an asynchronous operation and the events that report how one
// ended. They are registered by TypeRegistry::Initialize(), after the API help types.

#pragma once

#include <cstdint>
#include <string>

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
template <> struct TypeTraits<BindingAsyncFailureEvent> : StructTypeTraits<0x2DB89656> {};
template <> struct TypeTraits<BindingAsyncCancelEvent> : StructTypeTraits<0x96EAAF44> {};
// clang-format on

// Registers the builtin types and events, tagged "$builtin".
void RegisterBuiltinTypes(TypeRegistry& registry);

}  // namespace Quarn
