// Sample native types registered for the conversion tests: an enumeration, a small structure with a
// required member, and a record with a member of every kind of native type.

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/type_registry.h"

namespace Quarn::test {

// Calm = 0, Happy = 1, Sad = 2.
enum class Mood : std::int32_t { Calm = 0, Happy = 1, Sad = 2 };

// "x" is required.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// A structure type that is never registered.
struct Lost {
  std::int32_t value = 0;
};

// Refers to the unregistered Lost.
struct Holder {
  Lost lost;
};

// One member of each native kind, registered in this order under the member names.
struct Record {
  bool flag = false;
  std::int8_t tiny = 0;
  std::uint16_t small = 0;
  std::int64_t big = 0;
  std::uint64_t huge = 0;
  float ratio = 0;
  double precise = 0;
  std::string label;
  BindingProperty extra;
  Blob bytes;
  Mood mood = Mood::Calm;
  Point origin;
  std::vector<Point> points;
  std::vector<std::string> tags;
  std::map<std::string, BindingProperty> items;
  std::map<std::string, std::int32_t> counts;
  std::optional<std::string> note;
  std::vector<Mood> moods;
  std::map<std::string, Point> named;
};

// A registry holding Mood, Point, Holder and Record, built once for the whole test run.
[[nodiscard]] const TypeRegistry& SampleRegistry();

// A Record whose every member holds a value other than its default.
[[nodiscard]] Record FilledRecord();

}  // namespace Quarn::test

namespace Quarn {
// clang-format off
template <> struct TypeTraits<test::Mood> : EnumTypeTraits<0x7E570C01> {};
template <> struct TypeTraits<test::Point> : StructTypeTraits<0x7E570C02> {};
template <> struct TypeTraits<test::Lost> : StructTypeTraits<0x7E570C03> {};
template <> struct TypeTraits<test::Holder> : StructTypeTraits<0x7E570C04> {};
template <> struct TypeTraits<test::Record> : StructTypeTraits<0x7E570C05> {};
template <> struct TypeTraits<std::vector<test::Point>> : VectorTypeTraits<0x7E570C06, test::Point> {};
template <> struct TypeTraits<std::vector<test::Mood>> : VectorTypeTraits<0x7E570C07, test::Mood> {};
template <> struct TypeTraits<std::map<std::string, test::Point>> : MapTypeTraits<0x7E570C08, test::Point> {};
// clang-format on
}  // namespace Quarn
