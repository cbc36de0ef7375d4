#include "tools/gox_host/console_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace GoxHostApp {
namespace {

class ConsoleFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("gox-console-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(root_ / "console" / "sub");
    Write(root_ / "console" / "index.html", "<!doctype html>");
    Write(root_ / "console" / "console.js", "let a;");
    Write(root_ / "console" / ".hidden", "x");
    Write(root_ / "console" / "sub" / "inner.js", "inner");
    Write(root_ / "secret.txt", "outside");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  static void Write(const std::filesystem::path& path, const char* text) { std::ofstream(path) << text; }

  std::filesystem::path root_;
};

TEST_F(ConsoleFilesTest, ServesItsFilesAndNothingElse) {
  const ConsoleFiles files((root_ / "console").string());
  struct Case {
    const char* path;
    const char* bytes;  // null: not the console's
    const char* contentType;
  };
  const Case cases[] = {
      {"/", "<!doctype html>", "text/html; charset=utf-8"},
      {"/console/index.html", "<!doctype html>", "text/html; charset=utf-8"},
      {"/console/console.js", "let a;", "text/javascript; charset=utf-8"},
      {"/console/missing.js", nullptr, ""},
      {"/console/", nullptr, ""},
      {"/index.html", nullptr, ""},  // the tree's paths stay the tree's
      {"/gox-loadouts/v1/enabled", nullptr, ""},
      // Nothing outside the folder, nor in folders below it, nor hidden files.
      {"/console/../secret.txt", nullptr, ""},
      {"/console/..", nullptr, ""},
      {"/console/%2e%2e/secret.txt", nullptr, ""},
      {"/console/sub/inner.js", nullptr, ""},
      {"/console/.hidden", nullptr, ""},
      {"/console/a\\b", nullptr, ""},
  };
  for (const Case& c : cases) {
    const std::optional<ConsoleFile> file = files.Find(c.path);
    if (c.bytes == nullptr) {
      EXPECT_FALSE(file.has_value()) << c.path;
      continue;
    }
    ASSERT_TRUE(file.has_value()) << c.path;
    EXPECT_EQ(file->bytes, c.bytes) << c.path;
    EXPECT_EQ(file->contentType, c.contentType) << c.path;
  }
}

TEST_F(ConsoleFilesTest, AnEmptyFolderTurnsTheConsoleOff) {
  EXPECT_FALSE(ConsoleFiles("").Find("/").has_value());
}

TEST(ConsoleFolderTest, IsBesideTheExecutable) {
  EXPECT_EQ(DefaultConsoleFolder("/opt/gox/bin/gox-host"), "/opt/gox/bin/console");
  EXPECT_EQ(DefaultConsoleFolder("gox-host"), "./console");
  EXPECT_EQ(ConsoleContentType("logo.svg"), "image/svg+xml");
  EXPECT_EQ(ConsoleContentType("data.bin"), "application/octet-stream");
}

}  // namespace
}  // namespace GoxHostApp
