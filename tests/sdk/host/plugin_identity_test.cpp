#include "sdk/host/plugin_identity.h"

#include <gtest/gtest.h>

#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

TEST(PluginIdentityTest, PrefixFollowsTheExactTypeNameAndUnknownTypesAreLogged) {
  struct Case {
    PluginType type;
    const char* fullName;
    const char* logged;  // the error line, or null when nothing is logged
  };
  const Case cases[] = {
      {BackendPluginType(), "dwx-be-gox-loadouts", nullptr},
      {FrontendPluginType(), "dwx-fe-gox-loadouts", nullptr},
      {{"Backend", ""},
       "dwx-xx-gox-loadouts",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"gox-loadouts\", \"Backend\") called "
       "with an unknown type"},
      {{"", "q"},
       "dwx-xx-gox-loadouts",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"gox-loadouts\", \"\") called with an "
       "unknown type"},
  };
  for (const Case& c : cases) {
    ScopedLogger logger;
    RecordingLogTarget recorder;
    recorder.Attach();
    const PluginIdentity identity = GetFullNameFromShortNameAndType("gox-loadouts", c.type);
    EXPECT_EQ(identity.fullName, c.fullName);
    EXPECT_EQ(identity.shortName, "gox-loadouts");
    EXPECT_EQ(identity.typeName, c.type.name);
    EXPECT_EQ(identity.typeQualifier, c.type.qualifier);
    const auto entries = recorder.Entries();
    if (c.logged == nullptr) {
      EXPECT_TRUE(entries.empty()) << c.type.name;
    } else {
      ASSERT_EQ(entries.size(), 1u) << c.type.name;
      EXPECT_EQ(entries[0].level, 2);
      EXPECT_EQ(entries[0].message, c.logged);
    }
  }
}

TEST(PluginIdentityTest, UserAgentCarriesTheHostVersionAndShortName) {
  EXPECT_EQ(BuildUserAgent({18, 0, 0, "", ""}, "gox-loadouts"), "QuarnClient/18.0.0 (gox-loadouts)");
  EXPECT_EQ(BuildUserAgent({18, 4, 2, "", ""}, "x"), "QuarnClient/18.4.2 (x)");
}

}  // namespace
}  // namespace Quarn
