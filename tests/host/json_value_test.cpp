#include "host/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace GoxHost {
namespace {

// Texts the fast reading of numbers gets wrong by a unit in the last place (long mantissas, large and
// tiny exponents), and zeros with exponents, which the full-precision reading mishandles. Each must read
// as the nearest double, and what is written of it must read back as it.
TEST(JsonValueTest, NumbersReadAsTheNearestDoubleAndBackAsThemselves) {
  const char* texts[] = {
      "4333333333333333333333",
      "4.9999999999999997e42",
      "43333333333333340000.0",
      "0.1",
      "2.2250738585072011e-308",
      "4.9406564584124654e-324",
      "1.7976931348623157e308",
      "123456789012345678901234567890.5",
      "0.30000000000000004",
      "9007199254740993.0",
      "0e42",
      "-0e-400",
      "0.0000e300",
      "18446744073709551616",
      "-9223372036854775809",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const auto read = JsonValue::Parse(text);
    ASSERT_TRUE(read.has_value());
    ASSERT_TRUE(read->Get().IsDouble());
    const double expected = std::strtod(text, nullptr);
    EXPECT_EQ(read->Get().GetDouble(), expected);
    EXPECT_EQ(std::signbit(read->Get().GetDouble()), std::signbit(expected));
    const auto again = JsonValue::Parse(read->Text());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->Get().GetDouble(), read->Get().GetDouble());
    EXPECT_EQ(again->Text(), read->Text());
  }
}

TEST(JsonValueTest, NumbersPastADoublesRangeAreRefusedOrZeroAndIntegersStayIntegers) {
  struct Case {
    const char* text;
    const char* written;  // empty: refused
  };
  const Case cases[] = {
      {"1e400", ""},
      {"-17976931348623159e292", ""},
      {"1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000",
       ""},
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000001",
       "0.0"},
      {"-0", "0"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"[1,-2,3.5,{\"a\":1e2}]", "[1,-2,3.5,{\"a\":100.0}]"},
      {"1.5e", ""},
      {"01", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto read = JsonValue::Parse(c.text);
    if (*c.written == '\0') {
      EXPECT_FALSE(read.has_value());
      continue;
    }
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->Text(), c.written);
  }
  const auto max = JsonValue::Parse("18446744073709551615");
  ASSERT_TRUE(max.has_value());
  EXPECT_TRUE(max->Get().IsUint64());
  EXPECT_EQ(max->Get().GetUint64(), UINT64_MAX);
  const auto min = JsonValue::Parse("-9223372036854775808");
  ASSERT_TRUE(min.has_value());
  EXPECT_TRUE(min->Get().IsInt64());
  EXPECT_EQ(min->Get().GetInt64(), INT64_MIN);
  const auto small = JsonValue::Parse("-7");
  ASSERT_TRUE(small.has_value());
  EXPECT_TRUE(small->Get().IsInt());
  EXPECT_EQ(small->Get().GetInt(), -7);
}

}  // namespace
}  // namespace GoxHost
