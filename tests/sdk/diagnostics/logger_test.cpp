#include "sdk/diagnostics/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/platform_services.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

// Holds the logger and collects what reaches the debugger console.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { SetDebuggerConsoleSink(Collect, &debugger_); }
  void TearDown() override { SetDebuggerConsoleSink(nullptr, nullptr); }

  static void Collect(const char* text, void* context) { *static_cast<std::string*>(context) += text; }

  const LoggerApi& api_ = *GetLoggerApi();
  ScopedLogger logger_;
  std::string debugger_;
};

TEST_F(LoggerTest, BuiltInConsoleTargetsRouteByLevelAndCategory) {
  EXPECT_EQ(api_.findTarget("StdOutLogTarget"), nullptr);
  char thread[32];
  std::snprintf(thread, sizeof thread, "%p", CurrentThreadIdentity());
  struct Case {
    std::int32_t level;
    std::uint64_t categories;
    bool toStdErr;
    bool toDebugger;
  };
  const Case cases[] = {
      {0, kCategoryDebug, false, false},                    // below the minimum level
      {1, kCategoryExtra, false, false},                    // excluded by the logger
      {2, kCategoryDebug, true, true},                      //
      {2, kCategoryGeneral, false, false},                  // excluded by one, not included by the other
      {2, 0, true, true},                                   // no categories pass every category filter
      {2, kCategoryDebug | kCategoryGeneral, false, true},  // exclusion wins over inclusion
      {3, kCategoryProfile, false, false},                  // both include only "DBG"
  };
  for (const Case& c : cases) {
    debugger_.clear();
    testing::internal::CaptureStderr();
    Log(c.level, c.categories, "m");
    const std::string stdErr = testing::internal::GetCapturedStderr();
    const std::string line = std::string("gox_tests(") + thread + "): " + LevelLabel(c.level) + "| m\n";
    const std::string why = std::to_string(c.level) + "/" + std::to_string(c.categories);
    EXPECT_EQ(stdErr, c.toStdErr ? line : "") << why;
    EXPECT_EQ(debugger_, c.toDebugger ? line : "") << why;
  }
}

TEST_F(LoggerTest, StdOutTargetWritesBareMessagesOnceAttached) {
  const LogTargetApi* stdOut = api_.stdOutTarget();
  stdOut->attach(stdOut);
  testing::internal::CaptureStdout();
  Log(2, kCategoryGeneral, "to standard output");
  Log(2, kCategoryDebug, "not to standard output");
  stdOut->detach(stdOut);
  Log(2, kCategoryGeneral, "after detaching");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "to standard output\n");
}

TEST_F(LoggerTest, SuppressedMessagesAreNeitherFormattedNorCounted) {
  // Formatting this argument would crash, so a suppressed message must never reach the formatter.
  const char* const unformattable = reinterpret_cast<const char*>(1);
  RecordingLogTarget recorder;
  recorder.Attach();
  Log(0, kCategoryDebug, "%s", unformattable);
  Log(2, kCategoryExtra | kCategoryDebug, "%s", unformattable);
  api_.mute();
  Log(3, 0, "%s", unformattable);
  api_.unmute();
  EXPECT_TRUE(recorder.Entries().empty());
  EXPECT_EQ(GetLogCounts().errors, 0u);

  api_.setMinimumLevel(0);
  for (std::int32_t level : {0, 1, 1, 2, 3, 2, 2})
    Log(level, kCategoryTest, "level %d", level);
  EXPECT_EQ(recorder.Entries().size(), 7u);
  EXPECT_EQ(GetLogCounts().warnings, 2u);
  EXPECT_EQ(GetLogCounts().errors, 3u);
}

TEST_F(LoggerTest, TargetFiltersApplyPerTarget) {
  struct Case {
    const char* what;
    std::int32_t level;
    std::uint64_t include;
    std::uint64_t exclude;
    std::uint64_t categories;
    bool written;
  };
  const Case cases[] = {
      {"below the target level", 3, 0, 0, kCategoryDebug, false},
      {"at the target level", 2, 0, 0, kCategoryDebug, true},
      {"outside the include mask", 0, kCategoryNetwork, 0, kCategoryDebug, false},
      {"inside the include mask", 0, kCategoryNetwork, 0, kCategoryNetwork | kCategoryDisk, true},
      {"included and excluded", 0, kCategoryDisk | kCategoryNetwork, kCategoryDisk, kCategoryDisk, false},
      {"no categories", 0, kCategoryNetwork, kCategoryDebug, 0, true},
  };
  for (const Case& c : cases) {
    RecordingLogTarget recorder;
    recorder.SetLevel(c.level);
    recorder.SetMasks(c.include, c.exclude);
    recorder.Attach();
    Log(2, c.categories, "m");
    EXPECT_EQ(recorder.Entries().size(), c.written ? 1u : 0u) << c.what;
  }

  RecordingLogTarget halves;
  const LogTargetApi* t = halves.Api();
  t->setMasks(t, 0x0000000F, 0x80000000, 0x00000003, 0x00000001);
  EXPECT_EQ(t->getIncludeMask(t), 0x800000000000000Cu);
  EXPECT_EQ(t->getExcludeMask(t), 0x0000000100000003u);
}

TEST_F(LoggerTest, MessagesAreCutAt4095Characters) {
  RecordingLogTarget recorder;
  recorder.Attach();
  Log(2, kCategoryTest, "%s", std::string(5000, 'y').c_str());
  ASSERT_EQ(recorder.Entries().size(), 1u);
  EXPECT_EQ(recorder.Entries()[0].message, std::string(4095, 'y'));
  EXPECT_EQ(recorder.Entries()[0].line, std::string(4094, 'y') + "\n");
}

TEST_F(LoggerTest, DetachRemovesEveryOccurrenceAndDestroyedTargetsLeave) {
  RecordingLogTarget first;
  api_.attachTarget(first.Api());
  api_.attachTarget(first.Api());
  {
    RecordingLogTarget second;
    second.Attach();
    Log(2, kCategoryTest, "twice to the first");
    EXPECT_EQ(first.Entries().size(), 2u);
    api_.detachTarget(first.Api());
    EXPECT_EQ(api_.findTarget("RecordingLogTarget"), second.Api());
  }
  EXPECT_EQ(api_.findTarget("RecordingLogTarget"), nullptr);
  Log(2, kCategoryTest, "to nobody");
  EXPECT_EQ(first.Entries().size(), 2u);
}

TEST(LoggerLifetimeTest, LastReleaseDetachesTargetsAndRestoresDefaults) {
  const LoggerApi& api = *GetLoggerApi();
  RecordingLogTarget recorder;
  api.acquire();
  recorder.Attach();
  api.setMinimumLevel(3);
  api.release();
  EXPECT_FALSE(recorder.IsAttached());
  EXPECT_STREQ(api.executableName(), "<unknown>");

  api.release();  // an extra release must not wrap the user count
  api.acquire();
  EXPECT_EQ(api.getMinimumLevel(), 1);
  EXPECT_EQ(api.getExcludedCategories(), kCategoryExtra);
  EXPECT_STREQ(api.executableName(), "gox_tests");
  api.release();
  EXPECT_STREQ(api.executableName(), "<unknown>");
}

}  // namespace
}  // namespace Quarn
