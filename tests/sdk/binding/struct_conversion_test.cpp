#include "sdk/binding/struct_conversion.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "sdk/binding/native_converters.h"
#include "tests/support/conversion_samples.h"

namespace Quarn {
namespace {

struct Sparse {
  std::int32_t count = 0;
  std::optional<std::string> note;
  std::string name;
  bool flag = false;
};

}  // namespace

template <>
struct TypeTraits<Sparse> : StructTypeTraits<0x7E570C20> {};

namespace {

using test::FilledRecord;
using test::Holder;
using test::Point;
using test::Record;
using test::SampleRegistry;

// The BindingProperty form of a filled Record, the input the failure cases start from.
BindingProperty FilledInput() {
  ConversionResult result;
  ToProperty(result, FilledRecord(), SampleRegistry());
  return std::move(result.Value());
}

std::string ReadRecordMessage(const BindingProperty& input) {
  Record record;
  ConversionResult result;
  ToNative(result, record, input, "record", SampleRegistry());
  return std::string(result.Message());
}

TEST(StructConversionTest, RefusalsNameTheInnermostMember) {
  const std::vector<std::pair<std::function<void(BindingProperty&)>, std::string>> cases = {
      {[](BindingProperty& in) { in.Reset(); }, "A value for 'record' is required."},
      {[](BindingProperty& in) { in.SetSigned(1); },
       "Couldn't assign value to 'record' of type Record because the input not a structure."},
      {[](BindingProperty& in) { in.Field("tiny").SetSigned(200); },
       "Value 200 for 'tiny' of type int8 is out of range"},
      {[](BindingProperty& in) { in.Field("origin").Field("x").Reset(); },
       "Couldn't assign value to 'origin' of type Point because the input structure doesn't have required "
       "field 'x'."},
      {[](BindingProperty& in) { in.Field("points").Element(1).Field("y").SetString("a"); },
       "Value a for 'y' of type int32 is in an incorrect format"},
      {[](BindingProperty& in) { in.Field("points").Element(0).SetString("a"); },
       "Couldn't assign value to 'points' of type Point because the input not a structure."},
      {[](BindingProperty& in) { in.Field("named").Field("home").Field("x").SetBool(true); },
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {[](BindingProperty& in) { in.Field("mood").SetString("Angry"); },
       "Angry is not a valid Mood enumeration value for 'mood'."},
      {[](BindingProperty& in) { in.Field("moods").Element(0).SetSigned(9); },
       "9 is not a valid Mood enumeration value for 'moods'."},
      {[](BindingProperty& in) { in.Field("counts").SetString("x"); },
       "Couldn't assign value to 'counts' of type map because the input not a structure."},
      {[](BindingProperty& in) { in.Field("tags").Element(0).SetSigned(1); },
       "Couldn't assign value to 'tags' because the input is not a string."},
  };
  for (const auto& [change, expected] : cases) {
    BindingProperty input = FilledInput();
    change(input);
    EXPECT_EQ(ReadRecordMessage(input), expected);
  }
}

TEST(StructConversionTest, FirstFailureStopsTheWalkWithoutRollingBack) {
  BindingProperty input;
  input.Field("flag").SetBool(true);
  input.Field("tiny").SetString("500");
  input.Field("label").SetString("later");
  input.Field("unknown").SetSigned(1);
  Record record;
  record.label = "before";
  ConversionResult result;
  ToNative(result, record, input, "record", SampleRegistry());
  EXPECT_EQ(result.Message(), "Value 500 for 'tiny' of type int8 is out of range");
  EXPECT_TRUE(record.flag);
  EXPECT_EQ(record.label, "before");
}

TEST(StructConversionTest, AbsentOrEmptyMembersKeepTheirValues) {
  BindingProperty input;
  input.Field("x").SetSigned(1);
  input.Field("y").Reset();
  Point point{9, 9};
  ConversionResult result;
  ToNative(result, point, input, "point", SampleRegistry());
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(point.x, 1);
  EXPECT_EQ(point.y, 9);
}

TEST(StructConversionTest, EmptyElementsOfAVectorOfStructuresStayDefault) {
  BindingProperty input;
  input.Append();
  input.Append().Field("x").SetSigned(4);
  std::vector<Point> points = {{7, 7}, {7, 7}, {7, 7}};
  ConversionResult result;
  ToNative(result, points, input, "points", SampleRegistry());
  ASSERT_TRUE(result.Ok()) << result.Message();
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].x, 0);
  EXPECT_EQ(points[0].y, 0);
  EXPECT_EQ(points[1].x, 4);
}

TEST(StructConversionTest, OmitWhenEmptyLeavesOutEmptyMembersOnly) {
  TypeRegistry registry;
  registry.RegisterType<Sparse>("Sparse")
      .AddField<std::int32_t>("count", offsetof(Sparse, count), "", kFieldOmitWhenEmpty)
      .AddField<std::optional<std::string>>("note", offsetof(Sparse, note), "", kFieldOmitWhenEmpty)
      .AddField<std::string>("name", offsetof(Sparse, name), "", kFieldOmitWhenEmpty)
      .AddField<bool>("flag", offsetof(Sparse, flag));
  Sparse sparse;
  sparse.name = "x";
  ConversionResult result;
  ToProperty(result, sparse, registry);
  ASSERT_TRUE(result.Ok());
  EXPECT_EQ(result.Value().Count(), 2u);
  EXPECT_EQ(result.Value().Field("name").GetString({}), "x");
  EXPECT_TRUE(result.Value().HasField("flag"));

  sparse.count = -1;
  sparse.note = "";
  ToProperty(result, sparse, registry);
  EXPECT_EQ(result.Value().Field("count").GetSigned(0), -1);
  EXPECT_FALSE(result.Value().HasField("note"));
}

TEST(StructConversionTest, UnregisteredStructuresAreRefused) {
  Holder holder;
  ConversionResult written;
  ToProperty(written, holder, SampleRegistry());
  EXPECT_EQ(written.Message(), "Couldn't convert native value because it's an unregistered structure.");

  BindingProperty input;
  input.Field("lost").Field("value").SetSigned(1);
  ConversionResult read;
  ToNative(read, holder, input, "holder", SampleRegistry());
  EXPECT_EQ(read.Message(),
            "Couldn't assign value to 'lost' because the input is an unregistered structure or not a "
            "structure at all.");
}

}  // namespace
}  // namespace Quarn
