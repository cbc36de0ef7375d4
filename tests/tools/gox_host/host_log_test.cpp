#include "tools/gox_host/host_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace GoxHostApp {
namespace {

TEST(HostLogTest, LinesCarryTimeLevelAndSourceAndStayOnOneLine) {
  struct Case {
    std::int64_t time;
    const char* level;
    const char* message;
    const char* line;
  };
  const Case cases[] = {
      {0, "OKAY", "started", "1970-01-01T00:00:00.000Z   OKAY host: started"},
      {1778486400123, "ERROR", "two\nlines\r", "2026-05-11T08:00:00.123Z  ERROR host: two\\x0Alines\\x0D"},
      {999, "7", "tab\there", "1970-01-01T00:00:00.999Z      7 host: tab\\x09here"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatLogLine(c.time, c.level, "host", c.message), c.line);
}

TEST(HostLogTest, ModuleLevelsAreNamed) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    HostLog log(file);
    log.WriteModule(0, "a");
    log.WriteModule(2, "b");
    log.WriteModule(9, "c");
    log.Warning("d");
  }
  std::rewind(file);
  char buffer[512] = {};
  const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  const std::string text(buffer, read);
  for (const char* part :
       {"   OKAY module: a\n", "  ERROR module: b\n", "      9 module: c\n", "   WARN host: d\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
}

TEST(HostLogTest, TheTailKeepsTheLastLinesInOrder) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  HostLog log(sink);
  for (std::size_t i = 0; i < HostLog::kKeptLines + 3; ++i)
    log.Info("line " + std::to_string(i));
  const std::vector<std::string> all = log.Tail();
  ASSERT_EQ(all.size(), HostLog::kKeptLines);
  EXPECT_TRUE(all.front().ends_with("host: line 3")) << all.front();
  EXPECT_TRUE(all.back().ends_with("host: line " + std::to_string(HostLog::kKeptLines + 2))) << all.back();
  const std::vector<std::string> two = log.Tail(2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two.back(), all.back());
  std::fclose(sink);
}

}  // namespace
}  // namespace GoxHostApp
