#include "tools/gox_host/module_watcher.h"

#include <sys/stat.h>

#include <utility>

namespace GoxHostApp {

FileSignature ReadFileSignature(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return {};
  FileSignature signature;
  signature.exists = true;
  signature.size = static_cast<std::uint64_t>(status.st_size);
  signature.modifiedNs =
      static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  signature.inode = static_cast<std::uint64_t>(status.st_ino);
  return signature;
}

bool ChangeDebounce::Observe(const FileSignature& seen, Clock::time_point now) {
  if (seen == settled_) {
    candidate_.reset();  // changed and changed back: nothing to act on
    return false;
  }
  if (!candidate_ || seen != *candidate_) {
    candidate_ = seen;
    candidateSince_ = now;
    return false;
  }
  if (!seen.exists || now - candidateSince_ < settle_) return false;
  settled_ = seen;
  candidate_.reset();
  return true;
}

ModuleWatcher::ModuleWatcher(std::vector<std::string> paths, ModuleWatcherOptions options,
                             std::function<void(const std::string& path)> changed)
    : options_(options), changed_(std::move(changed)) {
  thread_ = std::thread([this, paths = std::move(paths)]() mutable { Main(std::move(paths)); });
}

void ModuleWatcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ModuleWatcher::Main(std::vector<std::string> paths) {
  std::vector<ChangeDebounce> debounces;
  for (const std::string& path : paths)
    debounces.emplace_back(ReadFileSignature(path), options_.settle);
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, options_.interval, [&] { return stopping_; })) return;
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
      if (debounces[i].Observe(ReadFileSignature(paths[i]), ChangeDebounce::Clock::now())) changed_(paths[i]);
  }
}

}  // namespace GoxHostApp
