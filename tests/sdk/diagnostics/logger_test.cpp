#include "sdk/diagnostics/logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/platform_services.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

// An argument that crashes the formatter if a suppressed message were ever formatted.
const char* const kUnformattable = reinterpret_cast<const char*>(1);

// Holds the logger and collects what reaches the debugger console and standard error.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { SetDebuggerConsoleSink(Collect, &debuggerLines_); }
  void TearDown() override { SetDebuggerConsoleSink(nullptr, nullptr); }

  static void Collect(const char* text, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(text);
  }

  // What one message writes to standard error and to the debugger console.
  std::pair<std::string, std::string> Route(std::int32_t level, std::uint64_t categories, const char* text) {
    debuggerLines_.clear();
    testing::internal::CaptureStderr();
    Log(level, categories, "%s", text);
    std::string debugger;
    for (const std::string& line : debuggerLines_)
      debugger += line;
    return {testing::internal::GetCapturedStderr(), debugger};
  }

  const LoggerApi& api_ = *GetLoggerApi();
  ScopedLogger logger_;
  std::vector<std::string> debuggerLines_;
};

TEST_F(LoggerTest, DefaultsOfTheLoggerAndItsBuiltInTargets) {
  EXPECT_EQ(api_.interfaceVersion(), 1);
  EXPECT_EQ(api_.getMinimumLevel(), 1);
  EXPECT_EQ(api_.getExcludedCategories(), kCategoryExtra);
  struct Case {
    const LogTargetApi* target;
    const char* name;
    const char* format;
    std::uint64_t include;
    std::uint64_t exclude;
    bool attached;
  };
  const Case cases[] = {
      {api_.stdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", kCategoryDebug, kCategoryGeneral, true},
      {api_.stdOutTarget(), "StdOutLogTarget", "#M", kCategoryGeneral, kCategoryDebug, false},
      {api_.debuggerTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kCategoryDebug, 0, true},
  };
  const LogRecord record{};
  for (const Case& c : cases) {
    const LogTargetApi* t = c.target;
    EXPECT_EQ(t->interfaceVersion(t), 1);
    EXPECT_STREQ(t->name(t), c.name);
    EXPECT_STREQ(t->format(t, &record), c.format) << c.name;
    EXPECT_EQ(t->getLevel(t), 1) << c.name;
    EXPECT_EQ(t->getIncludeMask(t), c.include) << c.name;
    EXPECT_EQ(t->getExcludeMask(t), c.exclude) << c.name;
    EXPECT_EQ(t->isAttached(t), c.attached) << c.name;
    EXPECT_EQ(api_.findTarget(c.name), c.attached ? t : nullptr) << c.name;
  }
}

TEST_F(LoggerTest, BuiltInConsoleTargetsRouteByLevelAndCategory) {
  struct Case {
    std::int32_t level;
    std::uint64_t categories;
    bool toStdErr;
    bool toDebugger;
  };
  const Case cases[] = {
      {0, kCategoryDebug, false, false},    // below the minimum level
      {1, kCategoryExtra, false, false},    // excluded by the logger
      {2, kCategoryDebug, true, true},      //
      {2, kCategoryGeneral, false, false},  // standard error excludes it, the debugger lacks it
      {2, 0, true, true},                   // no categories pass every category filter
      {2, kCategoryDebug | kCategoryGeneral, false, true},  // excluded wins over included
      {3, kCategoryProfile, false, false},                  // both include only "DBG"
  };
  for (const Case& c : cases) {
    const auto [stdErr, debugger] = Route(c.level, c.categories, "routed");
    const std::string suffix = std::string(LevelLabel(c.level)) + "| routed\n";
    EXPECT_EQ(stdErr.ends_with(suffix), c.toStdErr) << c.level << "/" << c.categories << ": " << stdErr;
    EXPECT_EQ(debugger.ends_with(suffix), c.toDebugger) << c.level << "/" << c.categories << ": " << debugger;
    if (c.toStdErr) {
      EXPECT_TRUE(stdErr.starts_with("gox_tests(")) << stdErr;
    }
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
  EXPECT_FALSE(stdOut->isAttached(stdOut));
}

TEST_F(LoggerTest, SuppressedMessagesAreNeverFormattedOrCounted) {
  RecordingLogTarget recorder;
  recorder.Attach();
  struct Case {
    const char* why;
    std::int32_t level;
    std::uint64_t categories;
    bool muted;
  };
  const Case cases[] = {
      {"below the minimum level", 0, kCategoryDebug, false},
      {"excluded category", 2, kCategoryExtra | kCategoryDebug, false},
      {"muted", 3, 0, true},
  };
  for (const Case& c : cases) {
    if (c.muted) api_.mute();
    Log(c.level, c.categories, "%s", kUnformattable);
    api_.unmute();
    EXPECT_TRUE(recorder.Entries().empty()) << c.why;
  }
  EXPECT_EQ(GetLogCounts().warnings, 0u);
  EXPECT_EQ(GetLogCounts().errors, 0u);
}

TEST_F(LoggerTest, CountsWarningsAndErrorsThatPassTheLoggerFilters) {
  api_.setMinimumLevel(0);
  for (std::int32_t level : {0, 1, 1, 2, 3, 2, 2})
    Log(level, kCategoryTest, "level %d", level);
  Log(2, kCategoryExtra, "excluded, not counted");
  EXPECT_EQ(GetLogCounts().warnings, 2u);
  EXPECT_EQ(GetLogCounts().errors, 3u);
}

TEST_F(LoggerTest, TargetFiltersApplyPerTarget) {
  struct Case {
    const char* what;
    std::int32_t level;
    std::uint64_t include;
    std::uint64_t exclude;
    std::int32_t messageLevel;
    std::uint64_t categories;
    bool written;
  };
  const Case cases[] = {
      {"below the target level", 3, 0, 0, 2, kCategoryDebug, false},
      {"at the target level", 2, 0, 0, 2, kCategoryDebug, true},
      {"outside the include mask", 0, kCategoryNetwork, 0, 2, kCategoryDebug, false},
      {"inside the include mask", 0, kCategoryNetwork, 0, 2, kCategoryNetwork | kCategoryDisk, true},
      {"include without exclude", 0, kCategoryDisk | kCategoryNetwork, kCategoryDisk, 2, kCategoryDisk,
       false},
      {"no categories", 0, kCategoryNetwork, kCategoryDebug, 2, 0, true},
  };
  for (const Case& c : cases) {
    RecordingLogTarget recorder;
    recorder.SetLevel(c.level);
    recorder.SetMasks(c.include, c.exclude);
    recorder.Attach();
    Log(c.messageLevel, c.categories, "m");
    EXPECT_EQ(recorder.Entries().size(), c.written ? 1u : 0u) << c.what;
  }
}

TEST_F(LoggerTest, TargetTableSplitsMasksIntoHalves) {
  RecordingLogTarget recorder;
  const LogTargetApi* t = recorder.Api();
  t->setMasks(t, 0x0000000F, 0x80000000, 0x00000003, 0x00000001);
  EXPECT_EQ(t->getIncludeMask(t), 0x800000000000000Cu);
  EXPECT_EQ(t->getExcludeMask(t), 0x0000000100000003u);
  LogTarget base;
  const LogRecord record{};
  EXPECT_FALSE(base.Api()->write(base.Api(), &record));
}

TEST_F(LoggerTest, MessagesAreCutAt4095Characters) {
  RecordingLogTarget recorder;
  recorder.Attach();
  const std::string longText(5000, 'y');
  Log(2, kCategoryTest, "%s", longText.c_str());
  ASSERT_EQ(recorder.Entries().size(), 1u);
  EXPECT_EQ(recorder.Entries()[0].message, std::string(4095, 'y'));
  EXPECT_EQ(recorder.Entries()[0].line, std::string(4094, 'y') + "\n");
}

TEST_F(LoggerTest, DetachRemovesEveryOccurrenceAndFindReturnsTheFirst) {
  RecordingLogTarget first;
  RecordingLogTarget second;
  api_.attachTarget(first.Api());
  api_.attachTarget(first.Api());
  second.Attach();
  Log(2, kCategoryTest, "twice to the first");
  EXPECT_EQ(first.Entries().size(), 2u);
  EXPECT_EQ(api_.findTarget("RecordingLogTarget"), first.Api());
  api_.detachTarget(first.Api());
  EXPECT_EQ(api_.findTarget("RecordingLogTarget"), second.Api());
  Log(2, kCategoryTest, "only to the second");
  EXPECT_EQ(first.Entries().size(), 2u);
  EXPECT_EQ(second.Entries().size(), 2u);
}

TEST_F(LoggerTest, DestroyedTargetIsDetached) {
  {
    RecordingLogTarget shortLived;
    shortLived.Attach();
  }
  EXPECT_EQ(api_.findTarget("RecordingLogTarget"), nullptr);
  Log(2, kCategoryTest, "no target left behind");
}

TEST(LoggerLifetimeTest, LastReleaseDetachesTargetsAndRestoresDefaults) {
  RecordingLogTarget recorder;
  const LoggerApi& api = *GetLoggerApi();
  api.acquire();
  recorder.Attach();
  api.setMinimumLevel(3);
  api.mute();
  api.release();
  EXPECT_FALSE(recorder.IsAttached());
  EXPECT_EQ(GetLogCounts().errors, 0u);
  EXPECT_STREQ(api.executableName(), "<unknown>");

  api.release();  // an extra release must not wrap the user count
  api.acquire();
  EXPECT_EQ(api.getMinimumLevel(), 1);
  Log(2, kCategoryTest, "counted");
  EXPECT_EQ(GetLogCounts().errors, 1u);
  EXPECT_STREQ(api.executableName(), "gox_tests");
  api.release();
  EXPECT_EQ(GetLogCounts().errors, 0u);
}

}  // namespace
}  // namespace Quarn
