#include "host/plugin_loader.h"

#include <dlfcn.h>

#include <cstring>
#include <utility>

namespace GoxHost {
namespace {

constexpr const char* kNoEntry = "the library exports no entry named ";

}  // namespace

std::string EntryNameFor(const std::string& path) {
  std::string stem = path.substr(path.find_last_of('/') + 1);
  stem = stem.substr(0, stem.find(".so"));
  if (stem.starts_with("lib")) stem.erase(0, 3);
  for (char& c : stem)
    if (c == '-' || c == '.') c = '_';
  return "load_" + stem;
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      error_(std::move(other.error_)) {}

PluginLibrary& PluginLibrary::operator=(PluginLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool PluginLibrary::Open(const std::string& path, bool keepMapped) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
  if (handle_ == nullptr) {
    const char* text = dlerror();
    error_ = text != nullptr ? text : path;
    return false;
  }
  const std::string named = EntryNameFor(path);
  entry_ = reinterpret_cast<PluginLoadEntry>(dlsym(handle_, named.c_str()));
  if (entry_ == nullptr) entry_ = reinterpret_cast<PluginLoadEntry>(dlsym(handle_, kModuleEntryName));
  if (entry_ == nullptr) {
    error_ = kNoEntry + (named == kModuleEntryName ? named : named + " or " + kModuleEntryName);
    Close();
    return false;
  }
  return true;
}

void PluginLibrary::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
}

bool Handshake::RecordUnchanged() const {
  return std::memcmp(&sent, &record, sizeof record) == 0;
}

Handshake PerformHandshake(PluginLoadEntry entry, HostVersion version) {
  Handshake handshake;
  handshake.sent.major = version.major;
  handshake.sent.minor = version.minor;
  handshake.sent.patch = version.patch;
  handshake.record = handshake.sent;
  handshake.returned = entry(&handshake.record);
  return handshake;
}

}  // namespace GoxHost
