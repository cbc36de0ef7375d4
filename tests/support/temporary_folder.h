// TemporaryFolder: a fresh folder under /tmp for a test's files, removed with everything in it on
// destruction, so that a test leaves nothing behind.

#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace GoxHostTest {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gox-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  // The folder; empty when it could not be made.
  [[nodiscard]] const std::string& Path() const { return path_; }
  // A path for a file of that name inside the folder.
  [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace GoxHostTest
