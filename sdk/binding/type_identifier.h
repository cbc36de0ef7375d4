// TypeIdentifier: the fixed 32-bit identity of every native type the SDK exchanges, the traits that
// give each native type its identifier and kind, and the identifiers of the SDK's own member types.
//
// Each native type T has one TypeTraits<T> specialisation naming its identifier, its NativeKind, the
// element kind of vectors and maps, the identifier of the registered type a member of T refers to, and
// whether T is an optional wrapper. TypeIdOf<T>() returns the one process-wide TypeIdentifier record of
// T. Identifiers are fixed when a type is written and never change: the API description and the other
// side of the host core know types by them. A plugin type is given its identifier like this:
//
//   struct GoxLoadoutsItemKey { ... };
//   template <>
//   struct TypeTraits<GoxLoadoutsItemKey> : StructTypeTraits<0x12345678> {};

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/native_kind.h"

namespace Quarn {

class BindingProperty;

// The identifier no registered type is found by: a type registered under it is kept by name only.
inline constexpr std::uint32_t kReservedTypeId = 0x1BE7EF8E;

// Size of the buffer holding a display name the registry supplies: '#', eight hexadecimal digits, NUL.
inline constexpr std::size_t kTypeIdDisplayNameSize = 10;

// The identity of one native type. Records are static and process-wide, one per type, so they are
// referred to by address. name is the type's display name: the NativeKind text for native member types
// ("int32", "string", "vector"), and "#%08X" of the identifier for registered structures and
// enumerations, whose real name the registry holds (e.g. "#4B896D21").
struct TypeIdentifier {
  std::uint32_t id = 0;
  std::string_view name;
};

// Builds the record of a type with identifier id and kind. For Struct and Enum kinds the display name is
// written into buffer, which must outlive the record. Used by TypeIdOf.
[[nodiscard]] TypeIdentifier MakeTypeIdentifier(std::uint32_t id, NativeKind kind,
                                                char (&buffer)[kTypeIdDisplayNameSize]);

// Specialised once per native type, usually by deriving from one of the helpers below. A type without
// a specialisation cannot be registered or used as a member.
template <class T>
struct TypeTraits;

// The members every TypeTraits specialisation carries. ReferencedId is the identifier of the registered
// structure or enumeration a member of this type refers to; it matters only when Kind or ElementKind is
// Struct or Enum.
template <std::uint32_t Id, NativeKind Kind, NativeKind ElementKind = NativeKind::None,
          std::uint32_t ReferencedId = Id, bool Optional = false>
struct NativeTypeTraits {
  static constexpr std::uint32_t kId = Id;
  static constexpr NativeKind kKind = Kind;
  static constexpr NativeKind kElementKind = ElementKind;
  static constexpr std::uint32_t kReferencedId = ReferencedId;
  static constexpr bool kOptional = Optional;
};

// A registered structure.
template <std::uint32_t Id>
using StructTypeTraits = NativeTypeTraits<Id, NativeKind::Struct>;

// A registered enumeration; its native type is 32 bits wide.
template <std::uint32_t Id>
using EnumTypeTraits = NativeTypeTraits<Id, NativeKind::Enum>;

// std::vector<Element>.
template <std::uint32_t Id, class Element>
using VectorTypeTraits =
    NativeTypeTraits<Id, NativeKind::Vector, TypeTraits<Element>::kKind, TypeTraits<Element>::kId>;

// std::map<std::string, Element>.
template <std::uint32_t Id, class Element>
using MapTypeTraits =
    NativeTypeTraits<Id, NativeKind::Map, TypeTraits<Element>::kKind, TypeTraits<Element>::kId>;

// std::optional<Inner>: described as Inner, with the optional flag set.
template <std::uint32_t Id, class Inner>
using OptionalTypeTraits = NativeTypeTraits<Id, TypeTraits<Inner>::kKind, TypeTraits<Inner>::kElementKind,
                                            TypeTraits<Inner>::kReferencedId, true>;

// The process-wide identity record of T, filled on first use (thread-safe).
template <class T>
[[nodiscard]] const TypeIdentifier& TypeIdOf() {
  static char displayName[kTypeIdDisplayNameSize] = {};
  static const TypeIdentifier record =
      MakeTypeIdentifier(TypeTraits<T>::kId, TypeTraits<T>::kKind, displayName);
  return record;
}

using Blob = std::vector<std::uint8_t>;

// The SDK's native member types. Each identifier is fixed for good; a test checks that they are
// pairwise distinct and that none is kReservedTypeId.
// clang-format off
template <> struct TypeTraits<bool> : NativeTypeTraits<0x6AB1187C, NativeKind::Bool> {};
template <> struct TypeTraits<std::int8_t> : NativeTypeTraits<0x1A28BF79, NativeKind::Int8> {};
template <> struct TypeTraits<std::uint8_t> : NativeTypeTraits<0x5EB97822, NativeKind::UInt8> {};
template <> struct TypeTraits<std::int16_t> : NativeTypeTraits<0x7B366F58, NativeKind::Int16> {};
template <> struct TypeTraits<std::uint16_t> : NativeTypeTraits<0xC40EB3A1, NativeKind::UInt16> {};
template <> struct TypeTraits<std::int32_t> : NativeTypeTraits<0x1C4DE261, NativeKind::Int32> {};
template <> struct TypeTraits<std::uint32_t> : NativeTypeTraits<0x3494B562, NativeKind::UInt32> {};
template <> struct TypeTraits<std::int64_t> : NativeTypeTraits<0xEF3DE1B9, NativeKind::Int64> {};
template <> struct TypeTraits<std::uint64_t> : NativeTypeTraits<0xC647E802, NativeKind::UInt64> {};
template <> struct TypeTraits<float> : NativeTypeTraits<0x13095EA0, NativeKind::Float> {};
template <> struct TypeTraits<double> : NativeTypeTraits<0xA9617F4F, NativeKind::Double> {};
template <> struct TypeTraits<std::string> : NativeTypeTraits<0x2757680B, NativeKind::String> {};
template <> struct TypeTraits<BindingProperty> : NativeTypeTraits<0xAF98C378, NativeKind::Object> {};
template <> struct TypeTraits<Blob> : NativeTypeTraits<0x9132F3C9, NativeKind::Blob> {};

template <> struct TypeTraits<std::vector<std::int8_t>> : VectorTypeTraits<0xF063C382, std::int8_t> {};
template <> struct TypeTraits<std::vector<std::int16_t>> : VectorTypeTraits<0xB0C79903, std::int16_t> {};
template <> struct TypeTraits<std::vector<std::uint16_t>> : VectorTypeTraits<0xA1D2DADE, std::uint16_t> {};
template <> struct TypeTraits<std::vector<std::int32_t>> : VectorTypeTraits<0x09F6F62D, std::int32_t> {};
template <> struct TypeTraits<std::vector<std::uint32_t>> : VectorTypeTraits<0xC8A44734, std::uint32_t> {};
template <> struct TypeTraits<std::vector<std::int64_t>> : VectorTypeTraits<0xCEAF99D4, std::int64_t> {};
template <> struct TypeTraits<std::vector<std::uint64_t>> : VectorTypeTraits<0x03F49DE9, std::uint64_t> {};
template <> struct TypeTraits<std::vector<float>> : VectorTypeTraits<0xB4F78FBF, float> {};
template <> struct TypeTraits<std::vector<double>> : VectorTypeTraits<0xA248A794, double> {};
template <> struct TypeTraits<std::vector<std::string>> : VectorTypeTraits<0xBFDBCD22, std::string> {};
template <> struct TypeTraits<std::vector<Blob>> : VectorTypeTraits<0x9CCB20D2, Blob> {};
template <> struct TypeTraits<std::vector<BindingProperty>> : VectorTypeTraits<0xE980F126, BindingProperty> {};

template <> struct TypeTraits<std::map<std::string, bool>> : MapTypeTraits<0xD727D60F, bool> {};
template <> struct TypeTraits<std::map<std::string, std::int8_t>> : MapTypeTraits<0x3F2E03C2, std::int8_t> {};
template <> struct TypeTraits<std::map<std::string, std::uint8_t>> : MapTypeTraits<0x210DA901, std::uint8_t> {};
template <> struct TypeTraits<std::map<std::string, std::int16_t>> : MapTypeTraits<0xF92ABDC3, std::int16_t> {};
template <> struct TypeTraits<std::map<std::string, std::uint16_t>> : MapTypeTraits<0x3FC62C9E, std::uint16_t> {};
template <> struct TypeTraits<std::map<std::string, std::int32_t>> : MapTypeTraits<0x525A1AED, std::int32_t> {};
template <> struct TypeTraits<std::map<std::string, std::uint32_t>> : MapTypeTraits<0x669798F4, std::uint32_t> {};
template <> struct TypeTraits<std::map<std::string, std::int64_t>> : MapTypeTraits<0x1712BE94, std::int64_t> {};
template <> struct TypeTraits<std::map<std::string, std::uint64_t>> : MapTypeTraits<0xA1E7EFA9, std::uint64_t> {};
template <> struct TypeTraits<std::map<std::string, float>> : MapTypeTraits<0xEA7FD77F, float> {};
template <> struct TypeTraits<std::map<std::string, double>> : MapTypeTraits<0xE111E454, double> {};
template <> struct TypeTraits<std::map<std::string, std::string>> : MapTypeTraits<0xFED65C0C, std::string> {};
template <> struct TypeTraits<std::map<std::string, Blob>> : MapTypeTraits<0xECD29592, Blob> {};
template <> struct TypeTraits<std::map<std::string, BindingProperty>> : MapTypeTraits<0xFB403709, BindingProperty> {};

template <> struct TypeTraits<std::optional<bool>> : OptionalTypeTraits<0x68C4CFF0, bool> {};
template <> struct TypeTraits<std::optional<std::int8_t>> : OptionalTypeTraits<0x22FB61C5, std::int8_t> {};
template <> struct TypeTraits<std::optional<std::uint8_t>> : OptionalTypeTraits<0xE246B314, std::uint8_t> {};
template <> struct TypeTraits<std::optional<std::int16_t>> : OptionalTypeTraits<0x04FFFC92, std::int16_t> {};
template <> struct TypeTraits<std::optional<std::uint16_t>> : OptionalTypeTraits<0x35E9104D, std::uint16_t> {};
template <> struct TypeTraits<std::optional<std::int32_t>> : OptionalTypeTraits<0x2BE4F0A0, std::int32_t> {};
template <> struct TypeTraits<std::optional<std::uint32_t>> : OptionalTypeTraits<0x5B7D4823, std::uint32_t> {};
template <> struct TypeTraits<std::optional<std::int64_t>> : OptionalTypeTraits<0xCDB8A685, std::int64_t> {};
template <> struct TypeTraits<std::optional<std::uint64_t>> : OptionalTypeTraits<0x39A8C8BE, std::uint64_t> {};
template <> struct TypeTraits<std::optional<float>> : OptionalTypeTraits<0x3E0E91BA, float> {};
template <> struct TypeTraits<std::optional<double>> : OptionalTypeTraits<0x093FEBE3, double> {};
template <> struct TypeTraits<std::optional<std::string>> : OptionalTypeTraits<0xCCA74F06, std::string> {};
template <> struct TypeTraits<std::optional<Blob>> : OptionalTypeTraits<0x380C52D5, Blob> {};
template <> struct TypeTraits<std::optional<std::vector<std::string>>> : OptionalTypeTraits<0x0F6B8376, std::vector<std::string>> {};
// clang-format on

}  // namespace Quarn
