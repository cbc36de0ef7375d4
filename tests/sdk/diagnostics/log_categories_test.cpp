#include "sdk/diagnostics/log_categories.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace Quarn {
namespace {

// Registering a code changes the process-wide table for good, so those cases run in a forked child: the
// table of the test process stays as the fixed codes left it. The body answers "" or what went wrong.
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

TEST(LogCategoriesTest, FixedCodesAndTheirNames) {
  struct Case {
    const char* code;
    std::uint64_t mask;
  };
  const Case cases[] = {
      {"DBG", kCategoryDebug},   {"GEN", kCategoryGeneral}, {"XTR", kCategoryExtra},
      {"PRF", kCategoryProfile}, {"MEM", kCategoryMemory},  {"DSK", kCategoryDisk},
      {"NET", kCategoryNetwork}, {"TST", kCategoryTest},    {"GENERAL", kCategoryGeneral},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CategoryMask(c.code), c.mask) << c.code;
    EXPECT_EQ(Names(c.mask), std::string(c.code, 3));
  }
  EXPECT_EQ(CategoryMask(nullptr), 0u);
}

TEST(LogCategoriesTest, NamesFollowBitOrderAndMarkUnusedSlots) {
  struct Case {
    std::uint64_t mask;
    const char* names;
  };
  const Case cases[] = {
      {0, ""},
      {kCategoryGeneral | kCategoryDebug, "DBG;GEN"},
      {kCategoryTest | kCategoryExtra | kCategoryDebug, "DBG;XTR;TST"},
      {std::uint64_t{1} << 63, "???"},
      {kCategoryNetwork | std::uint64_t{1} << 40, "NET;???"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Names(c.mask), c.names) << c.mask;
}

TEST(LogCategoriesTest, NamesAreCutToTheBuffer) {
  char buffer[6];
  EXPECT_EQ(FormatCategoryNames(kCategoryDebug | kCategoryGeneral, buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "DBG;G");
}

TEST(LogCategoriesTest, NewCodeTakesTheNextBitOnceOnly) {
  ExpectInChildProcess([]() -> std::string {
    const std::uint64_t first = CategoryMask("ABC");
    if (first != std::uint64_t{1} << 8) return "ABC did not get bit 8";
    if (CategoryMask("ABC") != first) return "ABC changed its bit";
    if (CategoryMask("ABCDEF") != first) return "only the first three characters should count";
    if (CategoryMask("AB") != std::uint64_t{1} << 9) return "a short code should take the next bit";
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
    if (CategoryMask("C63") != std::uint64_t{1} << 63) return "the last code lost its bit";
    if (CategoryMask("DBG") != kCategoryDebug) return "a fixed code lost its bit";
    if (Names(std::uint64_t{1} << 63) != "C63") return "the last slot was overwritten";
    return "";
  });
}

}  // namespace
}  // namespace Quarn
