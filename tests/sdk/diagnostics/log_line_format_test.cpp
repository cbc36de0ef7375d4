#include "sdk/diagnostics/log_line_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sdk/diagnostics/log_categories.h"

namespace Quarn {
namespace {

// Level 2 at 2024-01-02 03:04:05.006.
LogRecord FixedRecord(const char* message, std::uint64_t categories = kCategoryDebug | kCategoryGeneral) {
  LogRecord record;
  record.time = {2024, 1, 2, 3, 4, 5, 6};
  record.level = kLogLevelError;
  record.categories = categories;
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
    std::uint64_t categories;
    const char* line;
  };
  const Case cases[] = {
      {"#D| #L| #G| #M", "hello", 3, "2024-01-02T03:04:05.006|  ERROR| DBG;GEN| hello\n"},
      {"#D| #L| #G| #M", "hello", 0, "2024-01-02T03:04:05.006|  ERROR| | hello\n"},
      {"#M", "ends with a line feed\n", 1, "ends with a line feed\n"},
      {"#M!", "x\n", 1, "x\n!\n"},
      {"100## #M", "done", 1, "100# done\n"},
      {"#q#M", "x", 1, "qx\n"},
      {"#M#", "lone mark at the end", 1, "lone mark at the end\n"},
      {nullptr, "ignored", 1, "\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Line(c.format, FixedRecord(c.message, c.categories)), c.line) << (c.format ? c.format : "null");
  EXPECT_STREQ(LevelLabel(kLogLevelAlways), "ALWAYS");
  EXPECT_STREQ(LevelLabel(4), "   ???");
  EXPECT_STREQ(LevelLabel(-1), "   ???");
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

}  // namespace
}  // namespace Quarn
