// ModuleWatcher: notices that a module's file was rebuilt or copied over, for gox-host --watch.
//
// A thread polls each file's signature (existence, size, modification time, inode) every `interval`.
// A change is acted on only once the file has kept one signature for `settle`: a build that writes
// the file in several steps, or removes it and writes a new one, gives one notice for the finished
// file, not one per step. A file that is missing never settles; its return is a change like any other.
//
//   ModuleWatcher watcher({"build/libgox_loadouts.so"}, {}, [&](const std::string& path) { ... });
//   ...
//   watcher.Stop();  // or let it be destroyed

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace GoxHostApp {

// What a poll sees of a file.
struct FileSignature {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileSignature&) const = default;
};

[[nodiscard]] FileSignature ReadFileSignature(const std::string& path);

// Decides, from one signature per poll, when a changed file has settled.
class ChangeDebounce {
 public:
  using Clock = std::chrono::steady_clock;

  ChangeDebounce(FileSignature initial, std::chrono::milliseconds settle)
      : settled_(initial), settle_(settle) {}

  // True once for each change: when `seen` differs from the signature last acted on (or the initial
  // one) and has not changed for `settle` up to `now`. False while the file is missing.
  [[nodiscard]] bool Observe(const FileSignature& seen, Clock::time_point now);

 private:
  FileSignature settled_;
  std::chrono::milliseconds settle_;
  std::optional<FileSignature> candidate_;
  Clock::time_point candidateSince_;
};

struct ModuleWatcherOptions {
  std::chrono::milliseconds interval{100};  // between polls
  std::chrono::milliseconds settle{300};    // how long a changed file must stay the same
};

class ModuleWatcher {
 public:
  // Starts watching `paths`; `changed` runs on the watcher's thread with the path of a settled change
  // (the next polls wait for it to return).
  ModuleWatcher(std::vector<std::string> paths, ModuleWatcherOptions options,
                std::function<void(const std::string& path)> changed);
  ModuleWatcher(const ModuleWatcher&) = delete;
  ModuleWatcher& operator=(const ModuleWatcher&) = delete;
  ~ModuleWatcher() { Stop(); }

  // Ends the thread; more than once is fine.
  void Stop();

 private:
  void Main(std::vector<std::string> paths);

  ModuleWatcherOptions options_;
  std::function<void(const std::string&)> changed_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace GoxHostApp
