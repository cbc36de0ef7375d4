#include "sdk/host/plugin_log_target.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/platform_services.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

// A host table whose log entry records what it is given; the other entries are never called.
struct RecordingHost {
  HostApi api{};
  std::vector<std::pair<std::int32_t, std::string>> lines;

  RecordingHost() {
    api.log = [](const HostApi* self, std::int32_t level, const char* message) {
      reinterpret_cast<RecordingHost*>(const_cast<HostApi*>(self))->lines.emplace_back(level, message);
    };
  }
};

TEST(PluginLogTargetTest, InstallRoutesEveryLevelToTheHostInsteadOfTheConsoles) {
  ScopedLogger logger;
  std::vector<std::string> debuggerLines;
  SetDebuggerConsoleSink(
      [](const char* text, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(text);
      },
      &debuggerLines);

  RecordingHost host;
  std::unique_ptr<PluginLogTarget> target;
  InstallPluginLogTarget(&host.api, target);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(GetLoggerApi()->findTarget(kPluginLogTargetName), target->Api());

  Log(kLogLevelError, kCategoryDebug, "%s", "failed");
  Log(kLogLevelOkay, kCategoryGeneral, "done %d", 1);
  Log(kLogLevelAlways, kCategoryExtra, "excluded");
  const std::vector<std::pair<std::int32_t, std::string>> expected = {{2, "failed"}, {0, "done 1"}};
  EXPECT_EQ(host.lines, expected);
  EXPECT_TRUE(debuggerLines.empty());

  // A second installation finds the target and changes nothing.
  RecordingHost other;
  std::unique_ptr<PluginLogTarget> second;
  InstallPluginLogTarget(&other.api, second);
  EXPECT_EQ(second, nullptr);
  Log(kLogLevelError, kCategoryDebug, "again");
  EXPECT_TRUE(other.lines.empty());
  EXPECT_EQ(host.lines.size(), 3u);

  // Destroying the target detaches it, so the host table is never used after the plugin lets go.
  target.reset();
  EXPECT_EQ(GetLoggerApi()->findTarget(kPluginLogTargetName), nullptr);
  Log(kLogLevelError, kCategoryDebug, "after");
  EXPECT_EQ(host.lines.size(), 3u);
  SetDebuggerConsoleSink(nullptr, nullptr);
}

}  // namespace
}  // namespace Quarn
