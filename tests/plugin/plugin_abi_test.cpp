#include "plugin/plugin_abi.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

// On a 64-bit target the records follow the same rule as on 32 bits: packed, pointers at their native
// width. These sizes follow from the rule with 8-byte pointers; the 32-bit sizes are checked at compile
// time by the layout check.
TEST(PluginAbiTest, RecordSizesFollowThePackingRuleWithNativePointers) {
  constexpr std::size_t p = sizeof(void*);
  static_assert(p == 8, "this test describes a 64-bit target");
  struct Case {
    const char* record;
    std::size_t size;
    std::size_t expected;
  };
  const Case cases[] = {
      {"HostValue", sizeof(HostValue), 4 + p + 4},
      {"HostValueMember", sizeof(HostValueMember), p + sizeof(HostValue) + 1},
      {"MemoryStats", sizeof(MemoryStats), 56},
      {"PluginRegistration", sizeof(PluginRegistration), 12 + 4 * p},
      {"PluginEventRecord", sizeof(PluginEventRecord), p + sizeof(HostValue) + 4 + p},
      {"PluginParameter", sizeof(PluginParameter), p + sizeof(HostValue)},
      {"PluginRequest", sizeof(PluginRequest), 5 * 4 + 7 * p},
      {"PluginResponse", sizeof(PluginResponse), sizeof(HostValue) + 2 + 5 * 4 + 7 * p},
      {"PluginExternalRequest", sizeof(PluginExternalRequest), 5 * 4 + 3 * p},
      {"PluginExternalResponse", sizeof(PluginExternalResponse), 4 * 4 + 3 * p},
      {"HostApi", sizeof(HostApi), 10 * p},
      {"PluginEndpointRecord", sizeof(PluginEndpointRecord), 2 + 7 * 4 + 15 * p},
      {"PluginArgumentRecord", sizeof(PluginArgumentRecord), 1 + 2 * 4 + 4 * p},
      {"PluginTypeRecord", sizeof(PluginTypeRecord), 3 * 4 + 7 * p},
      {"PluginFieldRecord", sizeof(PluginFieldRecord), 1 + 3 * 4 + 4 * p},
      {"PluginEnumeratorRecord", sizeof(PluginEnumeratorRecord), 4 + 3 * p},
      {"PluginEventInfoRecord", sizeof(PluginEventInfoRecord), 4 + 6 * p},
      {"PluginApiDescription", sizeof(PluginApiDescription), 3 * 4 + 3 * p},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.size, c.expected) << c.record;
}

}  // namespace
