#include "sdk/host/resource_paths.h"

#include <gtest/gtest.h>

namespace Quarn {
namespace {

TEST(ResourcePathsTest, EventNameKeepsThreeSegmentsOrFiveForPlatformConfig) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"/gox-login/v1/session", "OnJsonApiEvent_gox-login_v1_session"},
      {"/gox-gameflow/v1/session/extra", "OnJsonApiEvent_gox-gameflow_v1_session"},
      {"/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes",
       "OnJsonApiEvent_gox-platform-config_v1_namespaces_Loadouts_ValidInventoryTypes"},
      {"/gox-platform-config/v1/namespaces/Loadouts/A/B",
       "OnJsonApiEvent_gox-platform-config_v1_namespaces_Loadouts_A"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
      {"//gox-loadouts//v1/enabled/", "OnJsonApiEvent_gox-loadouts_v1_enabled"},
      {"gox-login/v1", "OnJsonApiEvent_gox-login_v1"},
      // Only a first segment names the platform configuration.
      {"/x/gox-platform-config/a/b/c", "OnJsonApiEvent_x_gox-platform-config_a"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EventNameOfPath(c.path), c.name) << c.path;
}

TEST(ResourcePathsTest, StarMatchesARunWithinOneSegment) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"/a/*", "/a/b", true},      {"/a/*", "/a/bcd", true},   {"/a/*", "/a/", false},
      {"/a/*", "/a/b/c", false},   {"/a/*/c", "/a/x/c", true}, {"/a/*/c", "/a//c", true},
      {"/a/*/c", "/a/x/d", false}, {"/a/b", "/a/b", true},     {"/a/b", "/a/bc", false},
      {"/a/b", "/a", false},       {"*", "", false},           {"", "", true},
      {"/*/*", "/x/y", true},      {"/*x", "/ax", false},  // the run takes the rest of the segment
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesResourcePattern(c.pattern, c.path), c.matches) << c.pattern << " ~ " << c.path;
  }
}

}  // namespace
}  // namespace Quarn
