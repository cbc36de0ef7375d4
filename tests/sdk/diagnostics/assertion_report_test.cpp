#include "sdk/diagnostics/assertion_report.h"

#include <gtest/gtest.h>

#include "sdk/diagnostics/log_categories.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

TEST(AssertionReportTest, ReportTextListsTheGivenPartsInOrder) {
  struct Case {
    const char* expression;
    const char* description;
    const char* file;
    std::int32_t line;
    const char* function;
    const char* report;
  };
  const Case cases[] = {
      {"ALE-EECF0606", nullptr, nullptr, 0, nullptr, "Assertion failed!\n\nExpression: ALE-EECF0606"},
      {"ALE-6238ECBF", "Failed to get regionSettings", "", 0, "",
       "Assertion failed!\n\nExpression: ALE-6238ECBF\n\nDescription: Failed to get regionSettings"},
      {"x != 0", "must not be zero", "plugin.cpp", 42, "Load",
       "Assertion failed!\n\nFile: plugin.cpp\nLine: 42\n\nFunction: Load\n\nExpression: x != 0\n\n"
       "Description: must not be zero"},
      {nullptr, nullptr, nullptr, -7, nullptr, "Assertion failed!\n\nLine: -7\n\n"},
      {"", "", "", 0, "", "Assertion failed!\n\n"},
      {nullptr, "100%s %d", nullptr, 0, nullptr, "Assertion failed!\n\n\n\nDescription: 100%s %d"},
  };
  ScopedLogger logger;
  testing::internal::CaptureStderr();  // the built-in console target also receives the reports
  for (const Case& c : cases) {
    RecordingLogTarget recorder;
    recorder.Attach();
    ReportAssertion(c.expression, c.description, c.file, c.line, c.function);
    const auto entries = recorder.Entries();
    ASSERT_EQ(entries.size(), 1u) << c.report;
    EXPECT_EQ(entries[0].message, c.report);
    EXPECT_EQ(entries[0].level, 2);
    EXPECT_EQ(entries[0].categories, kCategoryDebug);
  }
  (void)testing::internal::GetCapturedStderr();
}

TEST(AssertionReportTest, OverlongPartsAreCutToOneMessage) {
  ScopedLogger logger;
  testing::internal::CaptureStderr();
  RecordingLogTarget recorder;
  recorder.Attach();
  const std::string description(10000, 'd');
  ReportAssertion("ALE-6D828C10", description.c_str(), nullptr, 0, nullptr);
  (void)testing::internal::GetCapturedStderr();
  ASSERT_EQ(recorder.Entries().size(), 1u);
  const std::string message = recorder.Entries()[0].message;
  EXPECT_EQ(message.size(), 4095u);
  EXPECT_TRUE(message.starts_with("Assertion failed!\n\nExpression: ALE-6D828C10\n\nDescription: ddd"));
}

}  // namespace
}  // namespace Quarn
