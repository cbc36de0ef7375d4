// MaybeType: either a Failure or a value, the return type of every SDK operation that can fail.

#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "sdk/binding/failure.h"
#include "sdk/binding/type_identifier.h"

namespace Quarn {

// Holds a value of type T or the Failure that prevented it. Moving a MaybeType moves whichever it holds.
// MaybeType<> (T = void) holds a Failure or nothing.
//
//   MaybeType<int> Parse(std::string_view text);
//   auto parsed = Parse("12");
//   if (parsed.HasFailure()) return parsed.TakeFailure();
//   int value = parsed.Value();
template <class T = void>
class [[nodiscard]] MaybeType {
 public:
  MaybeType(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  MaybeType(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  [[nodiscard]] bool HasFailure() const { return state_.index() == 1; }
  [[nodiscard]] bool Ok() const { return state_.index() == 0; }

  // REQUIRES: Ok().
  [[nodiscard]] T& Value() { return std::get<0>(state_); }
  [[nodiscard]] const T& Value() const { return std::get<0>(state_); }
  [[nodiscard]] T TakeValue() { return std::move(std::get<0>(state_)); }

  // REQUIRES: HasFailure().
  [[nodiscard]] const Failure& GetFailure() const { return std::get<1>(state_); }
  [[nodiscard]] Failure TakeFailure() { return std::move(std::get<1>(state_)); }

 private:
  std::variant<T, Failure> state_;
};

// The result of an operation that produces nothing but may fail.
template <>
class [[nodiscard]] MaybeType<void> {
 public:
  MaybeType() = default;
  MaybeType(Failure failure) : failure_(std::move(failure)), hasFailure_(true) {}

  [[nodiscard]] bool HasFailure() const { return hasFailure_; }
  [[nodiscard]] bool Ok() const { return !hasFailure_; }

  // REQUIRES: HasFailure().
  [[nodiscard]] const Failure& GetFailure() const { return failure_; }
  [[nodiscard]] Failure TakeFailure() { return std::move(failure_); }

 private:
  Failure failure_{std::string()};
  bool hasFailure_ = false;
};

namespace MaybeTypeDetail {

// MaybeType<T>'s identifier: FNV-1a over "MaybeType" and then T's identifier (0 for nothing), least
// significant byte first. Fixed for each T and, in practice, distinct; never the reserved identifier.
constexpr std::uint32_t IdentifierFor(std::uint32_t valueId) {
  std::uint32_t hash = 2166136261u;
  for (const char c : std::string_view("MaybeType"))
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  for (int shift = 0; shift < 32; shift += 8)
    hash = (hash ^ ((valueId >> shift) & 0xFFu)) * 16777619u;
  return hash == kReservedTypeId ? hash ^ 1u : hash;
}

template <class T>
constexpr std::uint32_t ValueIdentifier() {
  if constexpr (std::is_void_v<T>) {
    return 0;
  } else {
    return TypeTraits<T>::kId;
  }
}

}  // namespace MaybeTypeDetail

// A MaybeType is described as a structure of its own, so its display name reads "#%08X".
template <class T>
struct TypeTraits<MaybeType<T>>
    : StructTypeTraits<MaybeTypeDetail::IdentifierFor(MaybeTypeDetail::ValueIdentifier<T>())> {};

}  // namespace Quarn
