#include "tools/gox_host/module_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temporary_folder.h"

namespace GoxHostApp {
namespace {

using std::chrono::milliseconds;

FileSignature Sized(std::uint64_t size, std::int64_t modified = 1) {
  return FileSignature{true, size, modified, 7};
}
const FileSignature kMissing{};

// Polls at given times (milliseconds from the start) with a settle time of 300 ms.
TEST(ChangeDebounceTest, ActsOnceOnAFileThatHasSettled) {
  struct Poll {
    int at;
    FileSignature seen;
    bool acts;
  };
  struct Case {
    const char* what;
    std::vector<Poll> polls;
  };
  const FileSignature initial = Sized(100);
  const Case cases[] = {
      {"unchanged", {{100, initial, false}, {500, initial, false}, {1000, initial, false}}},
      {"one change, acted on once it settled",
       {{100, Sized(200), false},
        {300, Sized(200), false},
        {400, Sized(200), true},
        {900, Sized(200), false}}},
      {"written in steps: only the last one counts",
       {{100, Sized(10, 2), false},
        {300, Sized(20, 3), false},
        {500, Sized(30, 4), false},
        {700, Sized(40, 5), false},
        {999, Sized(40, 5), false},
        {1000, Sized(40, 5), true}}},
      {"removed and written anew",
       {{100, kMissing, false},
        {600, kMissing, false},
        {700, Sized(300, 9), false},
        {1100, Sized(300, 9), true}}},
      {"removed for good", {{100, kMissing, false}, {1000, kMissing, false}, {5000, kMissing, false}}},
      {"changed and changed back", {{100, Sized(1, 2), false}, {200, initial, false}, {900, initial, false}}},
      {"same size, new time", {{100, Sized(100, 2), false}, {400, Sized(100, 2), true}}},
      {"two changes, two reloads",
       {{100, Sized(200), false},
        {400, Sized(200), true},
        {500, Sized(300), false},
        {800, Sized(300), true}}},
  };
  for (const Case& c : cases) {
    ChangeDebounce debounce(initial, milliseconds(300));
    const auto start = ChangeDebounce::Clock::now();
    for (const Poll& poll : c.polls)
      EXPECT_EQ(debounce.Observe(poll.seen, start + milliseconds(poll.at)), poll.acts)
          << c.what << " at " << poll.at;
  }
}

TEST(FileSignatureTest, TellsSizeTimeAndAbsence) {
  GoxHostTest::TemporaryFolder folder;
  const std::string path = folder.File("module.so");
  EXPECT_FALSE(ReadFileSignature(path).exists);
  std::ofstream(path) << "abc";
  const FileSignature first = ReadFileSignature(path);
  EXPECT_TRUE(first.exists);
  EXPECT_EQ(first.size, 3u);
  std::ofstream(path, std::ios::app) << "d";
  EXPECT_NE(ReadFileSignature(path), first);
}

}  // namespace
}  // namespace GoxHostApp
