#include "sdk/binding/native_converters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/binding/value_equality.h"
#include "tests/support/conversion_samples.h"

namespace Quarn {
namespace {

using test::FilledRecord;
using test::Mood;
using test::Record;
using test::SampleRegistry;

TEST(NativeConvertersTest, EveryMemberKindSurvivesARoundTrip) {
  const Record filled = FilledRecord();
  ConversionResult written;
  ToProperty(written, filled, SampleRegistry());
  ASSERT_TRUE(written.Ok()) << written.Message();
  const BindingProperty& value = written.Value();

  // The form each native kind takes.
  const std::vector<std::pair<const char*, BindingKind>> forms = {
      {"flag", BindingKind::Bool},        {"tiny", BindingKind::Signed},
      {"small", BindingKind::Unsigned},   {"huge", BindingKind::Unsigned},
      {"ratio", BindingKind::Float},      {"label", BindingKind::String},
      {"bytes", BindingKind::Blob},       {"mood", BindingKind::Enum},
      {"origin", BindingKind::Structure}, {"points", BindingKind::Collection},
      {"counts", BindingKind::Structure}, {"note", BindingKind::String},
      {"moods", BindingKind::Collection}, {"named", BindingKind::Structure}};
  for (const auto& [name, kind] : forms)
    EXPECT_EQ(value.Field(name).Kind(), kind) << name;
  EXPECT_EQ(value.Field("tiny").GetSigned(0), -7);
  EXPECT_EQ(value.Field("mood").GetEnum({}).value, 2);
  EXPECT_EQ(value.Field("mood").GetEnum({}).type, &TypeIdOf<Mood>());
  EXPECT_EQ(value.Field("points").Element(1).Field("y").GetSigned(0), 6);

  Record read;
  ConversionResult status;
  ToNative(status, read, value, "record", SampleRegistry());
  ASSERT_TRUE(status.Ok()) << status.Message();
  EXPECT_EQ(read.note, filled.note);
  EXPECT_EQ(read.mood, Mood::Sad);
  EXPECT_EQ(read.bytes, filled.bytes);
  EXPECT_EQ(read.huge, filled.huge);
  ConversionResult again;
  ToProperty(again, read, SampleRegistry());
  EXPECT_TRUE(SameValue(again.Value(), value));
}

TEST(NativeConvertersTest, AnAbsentOptionalIsEmptyAndTheEmptyValueReadsAsNothing) {
  std::optional<std::string> note;
  ConversionResult written;
  ToProperty(written, note, SampleRegistry());
  EXPECT_EQ(written.Value().Kind(), BindingKind::Empty);

  note = "kept";
  ConversionResult read;
  ToNative(read, note, BindingProperty(), "note", SampleRegistry());
  EXPECT_TRUE(read.Ok());
  EXPECT_FALSE(note.has_value());
}

BindingProperty Text(std::string_view content) {
  BindingProperty value;
  value.SetString(content);
  return value;
}

// The message of reading input into a default T.
template <class T>
std::string ReadMessage(const BindingProperty& input) {
  T target{};
  ConversionResult result;
  ToNative(result, target, input, "v", SampleRegistry());
  return std::string(result.Message());
}

// Each native kind reads with its own bounds and prints its own kind name.
TEST(NativeConvertersTest, MembersReadWithTheirOwnBounds) {
  EXPECT_EQ(ReadMessage<std::int8_t>(Text("200")), "Value 200 for 'v' of type int8 is out of range");
  EXPECT_EQ(ReadMessage<std::uint16_t>(Text("-1")), "Value -1 for 'v' of type uint16 is out of range");
  EXPECT_EQ(ReadMessage<float>(Text("1e39")), "Value 1e39 for 'v' of type float is out of range");
  EXPECT_EQ(ReadMessage<Blob>(Text("AA==")),
            "Couldn't assign value to 'v' of type blob because the input is of an invalid type string.");
  EXPECT_EQ((ReadMessage<std::map<std::string, std::string>>(Text("x"))),
            "Couldn't assign value to 'v' of type map because the input not a structure.");
  EXPECT_EQ(ReadMessage<std::vector<std::int32_t>>(Text("x")),
            "Couldn't assign value to 'v' of type vector because the input not a collection.");
}

}  // namespace
}  // namespace Quarn
