#include "sdk/binding/value_readers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/type_registry.h"

namespace Quarn {
namespace {

enum class Color : std::int32_t {};

}  // namespace

template <>
struct TypeTraits<Color> : EnumTypeTraits<0x7E5700C1> {};

namespace {

enum class Reader { Bool, Int32, Int64, UInt32, UInt64, Double, String, Enum };

// The registry the enumeration readers look names up in: Color has One = 1, Two = 2, Minus = -1.
const TypeRegistry& Registry() {
  static TypeRegistry* registry = [] {
    auto* made = new TypeRegistry;
    made->RegisterType<Color>("Color").AddEnumValue("One", 1).AddEnumValue("Two", 2).AddEnumValue("Minus",
                                                                                                  -1);
    return made;
  }();
  return *registry;
}

const TypeInfo* ColorType() {
  return Registry().FindTypeByName("Color");
}

BindingProperty Str(std::string_view text) {
  BindingProperty value;
  value.SetString(text);
  return value;
}
BindingProperty Int(std::int64_t number) {
  BindingProperty value;
  value.SetSigned(number);
  return value;
}
BindingProperty UInt(std::uint64_t number) {
  BindingProperty value;
  value.SetUnsigned(number);
  return value;
}
BindingProperty Flt(double number) {
  BindingProperty value;
  value.SetFloat(number);
  return value;
}
BindingProperty Bool(bool truth) {
  BindingProperty value;
  value.SetBool(truth);
  return value;
}
BindingProperty Enum(std::int32_t number) {
  BindingProperty value;
  value.SetEnum(number, &TypeIdOf<Color>());
  return value;
}
BindingProperty Bytes() {
  BindingProperty value;
  const std::uint8_t bytes[] = {1, 2};
  value.SetBlob(bytes);
  return value;
}
BindingProperty Coll() {
  BindingProperty value;
  value.Append().SetSigned(1);
  return value;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// The reader's value as text, or its message when it refused.
std::string Read(Reader reader, const BindingProperty& input) {
  ConversionResult result;
  std::string value;
  constexpr auto kMin64 = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax64 = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMaxDouble = std::numeric_limits<double>::max();
  switch (reader) {
    case Reader::Bool:
      value = ReadBool(result, input, "v") ? "true" : "false";
      break;
    case Reader::Int32:
      value = std::to_string(ReadSigned(result, input, "v", -2147483648LL, 2147483647LL, "int32"));
      break;
    case Reader::Int64:
      value = std::to_string(ReadSigned(result, input, "v", kMin64, kMax64, "int64_t"));
      break;
    case Reader::UInt32:
      value = std::to_string(ReadUnsigned(result, input, "v", 4294967295ULL, "uint32"));
      break;
    case Reader::UInt64:
      value = std::to_string(ReadUnsigned(result, input, "v", ~0ULL, "uint64"));
      break;
    case Reader::Double:
      value = Number(ReadFloating(result, input, "v", -kMaxDouble, kMaxDouble, "double"));
      break;
    case Reader::String:
      value = ReadString(result, input, "v", &Registry());
      break;
    case Reader::Enum:
      value = std::to_string(ReadEnum(result, input, "v", ColorType()));
      break;
  }
  return result.Ok() ? value : "!" + std::string(result.Message());
}

struct Case {
  Reader reader;
  BindingProperty input;
  std::string expected;  // the value's text, or "!" and the message
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ValueReadersTest, AcceptanceTable) {
  const std::string m1 = "!A value for 'v' is required.";
  const std::vector<Case> cases = {
      // bool
      {Reader::Bool, BindingProperty(), m1},
      {Reader::Bool, Bool(true), "true"},
      {Reader::Bool, Str("1"), "true"},
      {Reader::Bool, Str("false"), "false"},
      {Reader::Bool, Str("TRUE"),
       "!Value TRUE for 'v' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", "
       "\"0\"."},
      {Reader::Bool, Int(1),
       "!Couldn't assign value to 'v' of type bool because the input is of an invalid type signed."},
      // signed
      {Reader::Int32, BindingProperty(), m1},
      {Reader::Int32, Str("0x10"), "16"},
      {Reader::Int32, Str("010"), "8"},
      {Reader::Int32, Str(" -42"), "-42"},
      {Reader::Int32, Str(""), "0"},
      {Reader::Int32, Str(" "), "!Value   for 'v' of type int32 is in an incorrect format"},
      {Reader::Int32, Str("12ab"), "!Value 12ab for 'v' of type int32 is in an incorrect format"},
      {Reader::Int32, Str(std::string_view("1\0", 2)),
       std::string("!Value 1\0 for 'v' of type int32 is in an incorrect format", 57)},
      {Reader::Int32, Str("2147483648"), "!Value 2147483648 for 'v' of type int32 is out of range"},
      {Reader::Int64, Str("9223372036854775808"),
       "!Value 9223372036854775808 for 'v' of type int64_t is out of range"},
      {Reader::Int32, Flt(3.9), "3"},
      {Reader::Int32, Flt(-3.9), "-3"},
      {Reader::Int32, Flt(2147483647.5), "!Value 2.14748e+09 for 'v' of type int32 is out of range"},
      {Reader::Int64, Flt(9223372036854775808.0),
       "!Value 9.22337e+18 for 'v' of type int64_t is out of range"},
      {Reader::Int64, Flt(kNaN), "!Value nan for 'v' of type int64_t is out of range"},
      {Reader::Int64, Flt(-kInf), "!Value -inf for 'v' of type int64_t is out of range"},
      {Reader::Int32, Int(-2147483649LL), "!Value -2147483649 for 'v' of type int32 is out of range"},
      {Reader::Int32, UInt(2147483648ULL), "!Value 2147483648 for 'v' of type int32 is out of range"},
      {Reader::Int64, UInt(~0ULL), "!Value 18446744073709551615 for 'v' of type int64_t is out of range"},
      {Reader::Int32, Enum(-1), "-1"},
      {Reader::Int32, Bool(true),
       "!Couldn't assign value to 'v' of type int32 because the input is of an invalid type bool."},
      {Reader::Int32, Bytes(),
       "!Couldn't assign value to 'v' of type int32 because the input is of an invalid type blob."},
      // unsigned
      {Reader::UInt32, Str("-1"), "!Value -1 for 'v' of type uint32 is out of range"},
      {Reader::UInt64, Str(" -1"), "!Value  -1 for 'v' of type uint64 is out of range"},
      {Reader::UInt32, Str("0XfF"), "255"},
      {Reader::UInt32, Str("4294967295"), "4294967295"},
      {Reader::UInt32, Str("4294967296"), "!Value 4294967296 for 'v' of type uint32 is out of range"},
      {Reader::UInt64, Str("18446744073709551616"),
       "!Value 18446744073709551616 for 'v' of type uint64 is out of range"},
      {Reader::UInt32, Int(-1), "!Value -1 for 'v' of type uint32 is out of range"},
      {Reader::UInt32, Flt(-0.5), "!Value -0.5 for 'v' of type uint32 is out of range"},
      {Reader::UInt64, Flt(kNaN), "!Value nan for 'v' of type uint64 is out of range"},
      {Reader::UInt64, Flt(kInf), "!Value inf for 'v' of type uint64 is out of range"},
      {Reader::UInt64, Flt(18446744073709551616.0),
       "!Value 1.84467e+19 for 'v' of type uint64 is out of range"},
      {Reader::UInt32, Flt(7.9), "7"},
      {Reader::UInt32, Enum(-1), "!Value -1 for 'v' of type uint32 is out of range"},
      {Reader::UInt32, Coll(),
       "!Couldn't assign value to 'v' of type uint32 because the input is of an invalid type collection."},
      // floating point
      {Reader::Double, Str(""), "0"},
      {Reader::Double, Str(" 2.5"), "2.5"},
      {Reader::Double, Str("0x1p4"), "16"},
      {Reader::Double, Str("1e-400"), "0"},
      {Reader::Double, Str("1e999"), "!Value 1e999 for 'v' of type double is out of range"},
      {Reader::Double, Str("inf"), "!Value inf for 'v' of type double is out of range"},
      {Reader::Double, Str("1.5x"), "!Value 1.5x for 'v' of type double is in an incorrect format"},
      {Reader::Double, Int(-3), "-3"},
      {Reader::Double, UInt(~0ULL), "1.8446744073709552e+19"},
      {Reader::Double, Flt(-kInf), "!Value -inf for 'v' of type double is out of range"},
      {Reader::Double, Enum(2), "2"},
      {Reader::Double, Bool(false),
       "!Couldn't assign value to 'v' of type double because the input is of an invalid type bool."},
      // string
      {Reader::String, BindingProperty(), m1},
      {Reader::String, Str("abc"), "abc"},
      {Reader::String, Enum(2), "Two"},
      {Reader::String, Enum(7), "!7 is not a valid enumeration value for 'v'."},
      {Reader::String, Int(1), "!Couldn't assign value to 'v' because the input is not a string."},
      // enumerations
      {Reader::Enum, BindingProperty(), m1},
      {Reader::Enum, Str("Two"), "2"},
      {Reader::Enum, Str("4294967297"), "1"},
      {Reader::Enum, Str("0x2"), "2"},
      {Reader::Enum, Str("two"), "!two is not a valid Color enumeration value for 'v'."},
      {Reader::Enum, Str("99999999999999999999"),
       "!99999999999999999999 is not a valid Color enumeration value for 'v'."},
      {Reader::Enum, Int(-1), "-1"},
      {Reader::Enum, Int(3), "!3 is not a valid Color enumeration value for 'v'."},
      {Reader::Enum, UInt(4294967297ULL), "1"},
      {Reader::Enum, UInt(4294967296ULL), "!4294967296 is not a valid Color enumeration value for 'v'."},
      {Reader::Enum, Enum(2), "2"},
      {Reader::Enum, Enum(5), "!5 is not a valid Color enumeration value for 'v'."},
      {Reader::Enum, Flt(1.0),
       "!Couldn't assign value to 'v' of enum type because the input is of an invalid type float."},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    EXPECT_EQ(Read(cases[i].reader, cases[i].input), cases[i].expected);
  }
}

TEST(ValueReadersTest, FailedResultKeepsItsMessage) {
  ConversionResult result;
  result.Fail("first");
  EXPECT_FALSE(ReadBool(result, Bool(true), "v"));
  EXPECT_EQ(ReadSigned(result, Int(5), "v", 0, 10, "int32"), 0);
  EXPECT_EQ(ReadUnsigned(result, Int(-5), "v", 10, "uint32"), 0u);
  EXPECT_EQ(ReadString(result, Str("x"), "v"), "");
  EXPECT_EQ(ReadEnum(result, Str("Two"), "v", ColorType()), 0);
  BindingProperty object = Int(9);
  ReadObject(result, object, Str("x"), "v");
  EXPECT_EQ(object.GetSigned(0), 9);
  EXPECT_EQ(result.Message(), "first");
}

// A value copied while the heap refuses is not the value read: the read fails and leaves nothing behind.
TEST(ValueReadersTest, ObjectCopyCutShortByTheHeapFails) {
  BindingProperty input;
  for (int i = 0; i < 8; ++i)
    input.Field("f" + std::to_string(i)).SetString(std::string(100, 'x'));
  const std::uint64_t before = ReadMemoryStats().allocationCount;
  {
    ConversionResult counted;
    BindingProperty copy;
    ReadObject(counted, copy, input, "v");
  }
  const std::uint64_t k = ReadMemoryStats().allocationCount - before;
  ASSERT_GT(k, 0u);
  for (std::uint64_t nth = 1; nth <= k; ++nth) {
    ConversionResult result;
    BindingProperty object;
    FailHeapAllocationsFrom(nth);
    ReadObject(result, object, input, "v");
    FailHeapAllocationsFrom(0);
    EXPECT_EQ(object.Kind(), BindingKind::Empty) << nth;
    EXPECT_FALSE(object.AllocationFailed()) << nth;
    EXPECT_FALSE(result.Ok()) << nth;
  }
  ConversionResult result;
  BindingProperty object;
  ReadObject(result, object, input, "v");
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(object.Count(), 8u);
}

TEST(ValueReadersTest, NumberTextsIgnoreTheProcessLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  if (german == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
  const std::string decimal = Read(Reader::Double, Str("2.5"));
  const std::string comma = Read(Reader::Double, Str("2,5"));
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(decimal, "2.5");
  EXPECT_EQ(comma, "!Value 2,5 for 'v' of type double is in an incorrect format");
}

}  // namespace
}  // namespace Quarn
