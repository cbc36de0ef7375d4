#include "sdk/diagnostics/api_version.h"

#include <gtest/gtest.h>

namespace Quarn {
namespace {

TEST(ApiVersionTest, TextFormAddsOnlyTheTextsThatAreSet) {
  struct Case {
    ApiVersion version;
    const char* text;
  };
  const Case cases[] = {
      {{18, 0, 0, "", ""}, "18.0.0"},
      {{18, 4, 7, "beta.1", ""}, "18.4.7-beta.1"},
      {{1, 2, 3, "", "abc"}, "1.2.3+abc"},
      {{4294967295u, 0, 1, "rc", "7"}, "4294967295.0.1-rc+7"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.version.ToText(), c.text);
}

}  // namespace
}  // namespace Quarn
