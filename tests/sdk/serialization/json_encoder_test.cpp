#include "sdk/serialization/json_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <string>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/type_registry.h"

namespace Quarn {
namespace {

enum class Shade : std::int32_t {};

}  // namespace

template <>
struct TypeTraits<Shade> : EnumTypeTraits<0x7E573001> {};

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct EncodeCase {
  const char* what;
  std::function<void(BindingProperty&)> build;
  const char* compact;
  const char* pretty;  // with "\n"; null when it matches compact
};

const TypeRegistry& ShadeRegistry() {
  static const TypeRegistry* registry = [] {
    auto* made = new TypeRegistry;
    (void)made->RegisterType<Shade>("Shade").AddEnumValue("Dark", 2).AddEnumValue("Light", 3);
    return made;
  }();
  return *registry;
}

// Each kind as the mapping writes it, compact and pretty.
TEST(JsonEncoderTest, WritesEachKind) {
  const EncodeCase cases[] = {
      {"empty root", [](BindingProperty&) {}, "", nullptr},
      {"empty field", [](BindingProperty& v) { v.Field("a"); }, R"({"a":null})", "{\n    \"a\": null\n}"},
      {"fields in name order",
       [](BindingProperty& v) {
         v.Field("b").SetSigned(2);
         v.Field("a").SetSigned(1);
       },
       R"({"a":1,"b":2})", "{\n    \"a\": 1,\n    \"b\": 2\n}"},
      {"empty collection", [](BindingProperty& v) { v.MakeCollection(); }, "[]", nullptr},
      {"empty structure", [](BindingProperty& v) { v.MakeStructure(); }, "{}", nullptr},
      {"nested empties",
       [](BindingProperty& v) {
         v.Append().MakeStructure();
         v.Append().MakeCollection();
       },
       "[{},[]]", "[\n    {},\n    []\n]"},
      {"bools",
       [](BindingProperty& v) {
         v.Append().SetBool(true);
         v.Append().SetBool(false);
       },
       "[true,false]", "[\n    true,\n    false\n]"},
      {"unsigned max", [](BindingProperty& v) { v.SetUnsigned(std::numeric_limits<std::uint64_t>::max()); },
       "18446744073709551615", nullptr},
      {"signed min", [](BindingProperty& v) { v.SetSigned(std::numeric_limits<std::int64_t>::min()); },
       "-9223372036854775808", nullptr},
      {"integral float", [](BindingProperty& v) { v.SetFloat(3.0); }, "3.0", nullptr},
      {"tenth", [](BindingProperty& v) { v.SetFloat(0.1); }, "0.1", nullptr},
      {"large float", [](BindingProperty& v) { v.SetFloat(1e300); }, "1e300", nullptr},
      {"zero float", [](BindingProperty& v) { v.SetFloat(0.0); }, "0.0", nullptr},
      {"negative zero", [](BindingProperty& v) { v.SetFloat(-0.0); }, "-0.0", nullptr},
      {"smallest subnormal", [](BindingProperty& v) { v.SetFloat(5e-324); }, "5e-324", nullptr},
      {"NaN root", [](BindingProperty& v) { v.SetFloat(kNaN); }, "null", nullptr},
      {"infinities in a collection",
       [](BindingProperty& v) {
         v.Append().SetFloat(kInfinity);
         v.Append().SetFloat(-kInfinity);
       },
       "[null,null]", "[\n    null,\n    null\n]"},
      {"NaN field",
       [](BindingProperty& v) {
         v.Field("x").SetFloat(kNaN);
         v.Field("y").SetSigned(1);
       },
       R"({"x":null,"y":1})", "{\n    \"x\": null,\n    \"y\": 1\n}"},
      {"escapes", [](BindingProperty& v) { v.SetString("\"\\/\b\f\n\r\t\x01\x1F"); },
       R"("\"\\/\b\f\n\r\t\u0001\u001F")", nullptr},
      {"UTF-8 and raw bytes", [](BindingProperty& v) { v.SetString("caf\xC3\xA9 \xFF"); },
       "\"caf\xC3\xA9 \xFF\"", nullptr},
      {"escaped member name", [](BindingProperty& v) { v.Field("a\"b").SetBool(true); }, R"({"a\"b":true})",
       "{\n    \"a\\\"b\": true\n}"},
      {"blob",
       [](BindingProperty& v) {
         v.SetBlob(BlobBytes{'a', 'b', 'c'});
       },
       R"("YWJj")", nullptr},
      {"padded blob", [](BindingProperty& v) { v.SetBlob(BlobBytes{0xFF}); }, R"("/w==")", nullptr},
      {"empty blob", [](BindingProperty& v) { v.SetBlob(BlobBytes{}); }, R"("")", nullptr},
      {"named enum", [](BindingProperty& v) { v.SetEnum(2, &TypeIdOf<Shade>()); }, R"("Dark")", nullptr},
      {"enum without a name", [](BindingProperty& v) { v.SetEnum(-1, &TypeIdOf<Shade>()); }, "-1", nullptr},
      {"enum without a type", [](BindingProperty& v) { v.SetEnum(2, nullptr); }, "2", nullptr},
  };
  for (const EncodeCase& c : cases) {
    BindingProperty value;
    c.build(value);
    EXPECT_EQ(EncodeJson(value, &ShadeRegistry()), c.compact) << c.what;
    EXPECT_EQ(EncodeJson(value, &ShadeRegistry(), "\n"), c.pretty != nullptr ? c.pretty : c.compact)
        << c.what;
  }
}

TEST(JsonEncoderTest, EnumsAreNumbersWithoutARegistry) {
  BindingProperty value;
  value.SetEnum(2, &TypeIdOf<Shade>());
  EXPECT_EQ(EncodeJson(value), "2");
}

// The separator replaces only the writer's line breaks; escaped line feeds inside strings stay.
TEST(JsonEncoderTest, LineSeparatorSelectsTheStyle) {
  BindingProperty value;
  value.Field("a").Append().SetSigned(1);
  value.Field("a").Append().SetSigned(2);
  value.Field("b").SetString("x\ny");
  EXPECT_EQ(EncodeJson(value), R"({"a":[1,2],"b":"x\ny"})");
  EXPECT_EQ(EncodeJson(value, nullptr, "\r\n"),
            "{\r\n    \"a\": [\r\n        1,\r\n        2\r\n    ],\r\n    \"b\": \"x\\ny\"\r\n}");
  EXPECT_EQ(EncodeJson(value, nullptr, "\n"),
            "{\n    \"a\": [\n        1,\n        2\n    ],\n    \"b\": \"x\\ny\"\n}");
}

// Texts around the output buffer's first size and past what a thread keeps of it between calls come out
// whole, compact and pretty; a buffer grown past that is given back, and a buffer that cannot grow is
// reported as the standard library reports it.
TEST(JsonEncoderTest, LongTextsAreWrittenWholeAndTheirBufferIsNotKept) {
  const std::size_t lengths[] = {0, 250, 251, 252, 600, std::size_t{1} << 20, (std::size_t{3} << 20) / 2};
  for (const std::size_t length : lengths) {
    SCOPED_TRACE(length);
    BindingProperty value;
    value.Append().SetString(std::string(length, 'x'));
    value.Append().SetSigned(-7);
    const std::string text = "\"" + std::string(length, 'x') + "\"";
    EXPECT_EQ(EncodeJson(value), "[" + text + ",-7]");
    EXPECT_EQ(EncodeJson(value, nullptr, "\n"), "[\n    " + text + ",\n    -7\n]");
  }

  // The thread's buffer counts as released between calls, as the heap's own kept blocks do.
  BindingProperty small;
  small.SetString("a");
  BindingProperty large;
  large.SetString(std::string(std::size_t{2} << 20, 'y'));
  const std::uint64_t inUse = HeapBytesInUse();
  EXPECT_EQ(EncodeJson(small), "\"a\"");
  EXPECT_EQ(HeapBytesInUse(), inUse);
  EXPECT_EQ(EncodeJson(large).size(), (std::size_t{2} << 20) + 2);
  EXPECT_EQ(HeapBytesInUse(), inUse);

  // Refused the kept buffer alone, a call writes into one of its own; refused every block, it throws.
  EXPECT_EQ(EncodeJson(small), "\"a\"");
  ASSERT_EQ(FailNthHeapAllocation(1), 0u);
  EXPECT_EQ(EncodeJson(small), "\"a\"");
  EXPECT_EQ(HeapBytesInUse(), inUse);
  ASSERT_EQ(FailHeapAllocationsFrom(1), 0u);
  EXPECT_THROW((void)EncodeJson(large), std::bad_alloc);
  EXPECT_THROW((void)EncodeJson(small), std::bad_alloc);
  (void)FailHeapAllocationsFrom(0);
  EXPECT_EQ(EncodeJson(small), "\"a\"");
  EXPECT_EQ(HeapBytesInUse(), inUse);
}

}  // namespace
}  // namespace Quarn
