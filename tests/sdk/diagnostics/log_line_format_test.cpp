#include "sdk/diagnostics/log_line_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

// Level 2, categories "DBG;GEN", 2024-01-02 03:04:05.006.
LogRecord FixedRecord(const char* message) {
  LogRecord record;
  record.time = {2024, 1, 2, 3, 4, 5, 6};
  record.level = kLogLevelError;
  record.categories = kCategoryDebug | kCategoryGeneral;
  std::snprintf(record.message, sizeof record.message, "%s", message);
  return record;
}

std::string Line(const char* format, const LogRecord& record, std::size_t size = kLogBufferSize) {
  char buffer[kLogBufferSize];
  const std::size_t length = FormatLogLine(format, record, buffer, size);
  EXPECT_EQ(length, std::strlen(buffer)) << format;
  return buffer;
}

TEST(LogLineFormatTest, TokensAndLineEnd) {
  struct Case {
    const char* format;
    const char* message;
    const char* line;
  };
  const Case cases[] = {
      {"#D| #L| #G| #M", "hello", "2024-01-02T03:04:05.006|  ERROR| DBG;GEN| hello\n"},
      {"#M", "ends with a line feed\n", "ends with a line feed\n"},
      {"#M", "", "\n"},
      {"#M!", "x\n", "x\n!\n"},
      {"100## #M", "done", "100# done\n"},
      {"#q#M", "x", "qx\n"},
      {"#M#", "lone mark at the end", "lone mark at the end\n"},
      {"", "ignored", "\n"},
      {nullptr, "ignored", "\n"},
      {"[#G]", "", "[DBG;GEN]\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Line(c.format, FixedRecord(c.message)), c.line) << (c.format ? c.format : "null");
}

TEST(LogLineFormatTest, LevelLabels) {
  struct Case {
    std::int32_t level;
    const char* label;
  };
  const Case cases[] = {{0, "  OKAY"}, {1, "  WARN"}, {2, " ERROR"},
                        {3, "ALWAYS"}, {4, "   ???"}, {-1, "   ???"}};
  for (const Case& c : cases)
    EXPECT_STREQ(LevelLabel(c.level), c.label) << c.level;
}

TEST(LogLineFormatTest, EmptyMaskHasNoCategoryNames) {
  LogRecord record = FixedRecord("m");
  record.categories = 0;
  EXPECT_EQ(Line("<#G>#M", record), "<>m\n");
}

TEST(LogLineFormatTest, ConsoleFormatNamesExecutableAndThread) {
  ScopedLogger logger;
  char thread[32];
  std::snprintf(thread, sizeof thread, "%p", CurrentThreadIdentity());
  EXPECT_EQ(Line("#E(#T): #L| #M", FixedRecord("hello")),
            std::string("gox_tests(") + thread + "):  ERROR| hello\n");
}

TEST(LogLineFormatTest, ElapsedTimeIsSecondsAndMilliseconds) {
  EXPECT_TRUE(std::regex_match(Line("#H", FixedRecord("")), std::regex("[0-9]{6}\\.[0-9]{3}\n")));
}

TEST(LogLineFormatTest, LongLinesAreCutWithTheLineFeedKept) {
  const std::string longMessage(kLogBufferSize - 1, 'x');
  struct Case {
    const char* format;
    std::size_t size;
    std::string line;
  };
  const Case cases[] = {
      {"#M", kLogBufferSize, std::string(kLogBufferSize - 2, 'x') + "\n"},
      {"ab#M", kLogBufferSize, "ab" + std::string(kLogBufferSize - 4, 'x') + "\n"},
      {"abcdefghij", 8, "abcdef\n"},
      {"abcdefghij", 2, "\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Line(c.format, FixedRecord(longMessage.c_str()), c.size), c.line) << c.format << " " << c.size;

  char tiny[1] = {'?'};
  EXPECT_EQ(FormatLogLine("#M", FixedRecord("x"), tiny, sizeof tiny), 0u);
  EXPECT_EQ(tiny[0], '?');
}

TEST(LogLineFormatTest, Timestamps) {
  const LocalDateTime time = {2024, 1, 2, 3, 4, 5, 6};
  char buffer[32];
  FormatTimestamp(time, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "2024-01-02T03:04:05.006");
  FormatFileTimestamp(time, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "2024-01-02T03-04-05");
}

}  // namespace
}  // namespace Quarn
