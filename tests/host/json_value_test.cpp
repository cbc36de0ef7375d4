#include "host/json_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace GoxHost {
namespace {

// Texts the fast reading of numbers gets wrong by a unit in the last place: long mantissas, large and
// tiny exponents. Each must read as the nearest double, and what is written of it must read back as it.
TEST(JsonValueTest, NumbersReadAsTheNearestDoubleAndBackAsThemselves) {
  const char* texts[] = {
      "4333333333333333333333",  "4.9999999999999997e42",
      "43333333333333340000.0",  "0.1",
      "2.2250738585072011e-308", "4.9406564584124654e-324",
      "1.7976931348623157e308",  "123456789012345678901234567890.5",
      "0.30000000000000004",     "9007199254740993.0",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const auto read = JsonValue::Parse(text);
    ASSERT_TRUE(read.has_value());
    ASSERT_TRUE(read->Get().IsDouble());
    EXPECT_EQ(read->Get().GetDouble(), std::strtod(text, nullptr));
    const auto again = JsonValue::Parse(read->Text());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->Get().GetDouble(), read->Get().GetDouble());
    EXPECT_EQ(again->Text(), read->Text());
  }
}

}  // namespace
}  // namespace GoxHost
