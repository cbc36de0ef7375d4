#include "host/host_value_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace GoxHost {
namespace {

HostValue Build(const char* json) {
  return ToHostValue(JsonValue::Parse(json).value().Get());
}

// A value of that code with every payload byte zero.
HostValue Zeroed(std::uint32_t code) {
  HostValue value;
  std::memset(&value, 0, sizeof value);
  value.type = code;
  return value;
}

// A value survives the trip to a host value and back, and takes the code the module expects.
TEST(HostValueCodecTest, JsonRoundTripsThroughHostValues) {
  struct Case {
    const char* json;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"null", kHostValueEmpty},
      {"true", kHostValueBool},
      {"-5", kHostValueSigned},
      {"9223372036854775807", kHostValueSigned},
      {"18446744073709551615", kHostValueUnsigned},
      {"1.5", kHostValueFloat},
      {R"("")", kHostValueOwnedText},
      {R"("caf\u00e9 \"q\"")", kHostValueOwnedText},
      {"[]", kHostValueCollection},
      {"{}", kHostValueStructure},
      {R"({"b":[1,{"c":null,"a":"x"}],"a":false})", kHostValueStructure},
  };
  for (const Case& c : cases) {
    HostValue value = Build(c.json);
    EXPECT_EQ(value.type, c.code) << c.json;
    HostValueReading back = FromHostValue(value);
    ASSERT_TRUE(back.value) << c.json << ": " << back.error;
    EXPECT_EQ(back.value->Text(), JsonValue::Parse(c.json)->Text());
    ReleaseHostValue(&value);
    EXPECT_EQ(value.type, kHostValueEmpty);
  }
}

// Values built by the module are read with checks; a broken one is refused, never followed.
TEST(HostValueCodecTest, RefusesBrokenValues) {
  HostValue brokenItem = Zeroed(kHostValueOwnedText);
  brokenItem.payload.span = {nullptr, 4};
  HostValueMember unnamed{nullptr, HostValue{}, 0};
  HostValue nan = Zeroed(kHostValueFloat);
  nan.payload.floatValue = std::numeric_limits<double>::quiet_NaN();

  struct Case {
    const char* label;
    HostValue value;
    const char* error;
  };
  std::vector<Case> cases = {
      {"unknown code", Zeroed(11), "unknown type code 11"},
      {"null borrowed text", Zeroed(kHostValueText), "null text"},
      {"null owned text", brokenItem, "null pointer and a count of 4"},
      {"not finite", nan, "not a finite number"},
  };
  HostValue bytes = Zeroed(kHostValueBytes);
  bytes.payload.span = {nullptr, 2};
  cases.push_back({"null bytes", bytes, "code 7 has a null pointer"});
  HostValue nested = Zeroed(kHostValueCollection);
  nested.payload.span = {&brokenItem, 1};
  cases.push_back({"broken element", nested, "null pointer and a count of 4"});
  HostValue structure = Zeroed(kHostValueStructure);
  structure.payload.span = {&unnamed, 1};
  cases.push_back({"unnamed member", structure, "member 0 has a null name"});

  for (const Case& c : cases) {
    HostValueReading reading = FromHostValue(c.value);
    EXPECT_FALSE(reading.value) << c.label;
    EXPECT_NE(reading.error.find(c.error), std::string::npos) << c.label << ": " << reading.error;
  }
}

TEST(HostValueCodecTest, ReadsBorrowedValuesBytesAndRepeatedMembers) {
  const unsigned char raw[] = {'h', 'i', 0xFF};
  HostValueMember members[3] = {};
  members[0] = {"t", Zeroed(kHostValueText), 0};
  members[0].value.payload.text = "borrowed";
  members[1] = {"b", Zeroed(kHostValueBytes), 0};
  members[1].value.payload.span = {const_cast<unsigned char*>(raw), 3};
  members[2] = {"t", Zeroed(kHostValueBool), 0};  // a later member of the same name wins
  members[2].value.payload.boolean = 1;
  HostValue value = Zeroed(kHostValueStructure);
  value.payload.span = {members, 3};
  HostValueReading reading = FromHostValue(value);
  ASSERT_TRUE(reading.value) << reading.error;
  EXPECT_EQ(reading.value->Text(), R"({"t":true,"b":"aGn/"})");
}

TEST(HostValueCodecTest, RefusesNestingBeyondTheLimit) {
  std::vector<HostValue> chain(kMaxHostValueDepth + 2);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].type = kHostValueCollection;
    chain[i].payload.span = {&chain[i + 1], 1};
  }
  EXPECT_NE(FromHostValue(chain[0]).error.find("deeper"), std::string::npos);
  EXPECT_TRUE(FromHostValue(chain[2]).value);
}

}  // namespace
}  // namespace GoxHost
