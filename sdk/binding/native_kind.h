// NativeKind and TypeDescriptor: the kind of a registered member's native type, and the triple (kind,
// element kind, referenced registered type) through which conversion and help read a member.

#pragma once

#include <cstdint>
#include <string_view>

namespace Quarn {

struct TypeInfo;

// The kind of a native member type. The codes are exchanged with the host core in the API description
// and never change; None (0) marks "no kind", for example the element kind of a scalar.
enum class NativeKind : std::uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // a Quarn::BindingProperty held as is
  Blob = 14,    // std::vector<std::uint8_t>
  Vector = 15,
  Enum = 16,  // a registered enumeration, 32 bits wide
  Struct = 17,
  Callback = 18,
  Map = 19,  // a map from string to the element kind
};

// The text messages and descriptions print for a kind: "bool", "int8", ..., "map". None and codes
// outside 1..19 give the empty text. The text lives for the whole process.
[[nodiscard]] std::string_view NativeKindName(NativeKind kind);

// How a member's native type is laid out for conversion. elementKind is set for Vector and Map only.
// typeInfo refers to the registered structure or enumeration for Struct and Enum members and for vectors
// and maps of them; it is resolved by identifier when the member is registered, so it stays null when
// that type was not registered first.
struct TypeDescriptor {
  NativeKind kind = NativeKind::None;
  NativeKind elementKind = NativeKind::None;
  const TypeInfo* typeInfo = nullptr;
};

}  // namespace Quarn
