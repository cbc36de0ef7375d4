#include "sdk/diagnostics/log_categories.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace Quarn {
namespace {

// Registering a code changes the process-wide table for good, so those cases run in a forked child and
// the test process keeps the fixed codes only. The body answers "" or what went wrong.
template <typename Body>
void ExpectInChildProcess(Body body) {
  EXPECT_EXIT(
      {
        const std::string fault = body();
        std::fputs(fault.c_str(), stderr);
        _exit(fault.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

std::string Names(std::uint64_t mask) {
  char buffer[kCategorySlotCount * 4 + 1];
  FormatCategoryNames(mask, buffer, sizeof buffer);
  return buffer;
}

TEST(LogCategoriesTest, FixedCodesKeepTheirBitsAndNamesFollowBitOrder) {
  const char* const fixed[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
  for (std::size_t bit = 0; bit < 8; ++bit)
    EXPECT_EQ(CategoryMask(fixed[bit]), std::uint64_t{1} << bit) << fixed[bit];
  EXPECT_EQ(CategoryMask("GENERAL"), kCategoryGeneral);
  EXPECT_EQ(CategoryMask(nullptr), 0u);

  struct Case {
    std::uint64_t mask;
    const char* names;
  };
  const Case cases[] = {
      {0, ""},
      {kCategoryGeneral | kCategoryDebug, "DBG;GEN"},
      {0xFF, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
      {kCategoryNetwork | std::uint64_t{1} << 63, "NET;???"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Names(c.mask), c.names) << c.mask;
}

TEST(LogCategoriesTest, NamesStopAtTheBufferSize) {
  struct Case {
    std::size_t size;
    const char* names;  // what the buffer holds; null: nothing written
  };
  const Case cases[] = {{0, nullptr}, {1, ""}, {4, "DBG"}, {5, "DBG;"}, {6, "DBG;G"}};
  for (const Case& c : cases) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    const std::size_t length = FormatCategoryNames(kCategoryDebug | kCategoryGeneral, buffer, c.size);
    if (c.names == nullptr) {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(buffer[0], '#') << "a zero-sized buffer was written";
      continue;
    }
    EXPECT_STREQ(buffer, c.names) << c.size;
    EXPECT_EQ(length, std::strlen(c.names));
    EXPECT_EQ(buffer[c.size], '#') << "written past the buffer of " << c.size;
  }
}

TEST(LogCategoriesTest, NewCodeTakesTheNextBitOnceOnly) {
  ExpectInChildProcess([]() -> std::string {
    const std::uint64_t first = CategoryMask("ABC");
    if (first != std::uint64_t{1} << 8) return "ABC did not get bit 8";
    if (CategoryMask("ABC") != first) return "ABC changed its bit";
    if (CategoryMask("ABCDEF") != first) return "only the first three characters should count";
    if (Names(first | kCategoryDebug) != "DBG;ABC") return "the new code is not named";
    return "";
  });
}

TEST(LogCategoriesTest, FullTableRefusesNewCodesWithoutOverwriting) {
  ExpectInChildProcess([]() -> std::string {
    char code[4];
    for (int slot = 8; slot < 64; ++slot) {
      std::snprintf(code, sizeof code, "C%02d", slot);
      if (CategoryMask(code) != std::uint64_t{1} << slot) return std::string("wrong bit for ") + code;
    }
    if (CategoryMask("ZZZ") != 0) return "a 65th code must be refused";
    if (CategoryMask("C63") != std::uint64_t{1} << 63 || Names(std::uint64_t{1} << 63) != "C63")
      return "the last slot was overwritten";
    return "";
  });
}

}  // namespace
}  // namespace Quarn
