#include "host/plugin_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

namespace GoxHost {
namespace {

constexpr const char* kNoEntry = "the library exports no entry named ";
constexpr const char* kNoCopy = "cannot copy %s for loading: %s";
constexpr const char* kCutShort =
    "%s: the file ends inside its %s (%llu bytes, %llu needed): truncated or still being written";

// The loader maps a library's segments without checking that the file holds them: a truncated file
// (a build still writing it) would load, and its code fault with SIGBUS when first touched. The
// headers, program headers, loaded segments and section headers must all lie inside the file.
template <class Header, class ProgramHeader>
std::optional<std::string> CheckExtents(std::ifstream& file, const std::string& path, std::uint64_t size) {
  Header header{};
  if (!file.seekg(0) || !file.read(reinterpret_cast<char*>(&header), sizeof header)) return std::nullopt;
  char message[1024];
  const auto beyond = [&](const char* part, std::uint64_t end) {
    std::snprintf(message, sizeof message, kCutShort, path.c_str(), part,
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(end));
    return std::optional<std::string>(message);
  };
  const std::uint64_t programEnd =
      static_cast<std::uint64_t>(header.e_phoff) + std::uint64_t{header.e_phnum} * header.e_phentsize;
  if (programEnd > size) return beyond("program headers", programEnd);
  if (header.e_shoff != 0) {
    const std::uint64_t sectionEnd =
        static_cast<std::uint64_t>(header.e_shoff) + std::uint64_t{header.e_shnum} * header.e_shentsize;
    if (sectionEnd > size) return beyond("section headers", sectionEnd);
  }
  if (header.e_phentsize != sizeof(ProgramHeader)) return std::nullopt;  // the loader refuses it itself
  for (std::uint64_t i = 0; i < header.e_phnum; ++i) {
    ProgramHeader program{};
    if (!file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof program)) ||
        !file.read(reinterpret_cast<char*>(&program), sizeof program))
      return beyond("program headers", programEnd);
    const std::uint64_t end = static_cast<std::uint64_t>(program.p_offset) + program.p_filesz;
    if (program.p_type == PT_LOAD && end > size) return beyond("loaded segments", end);
  }
  return std::nullopt;
}

// Why the ELF file at `path` cannot be whole; nothing for a complete one, or for a file that is not
// ELF at all (the loader's own message says so).
std::optional<std::string> CheckComplete(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  file.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(file.tellg());
  unsigned char ident[EI_NIDENT] = {};
  if (!file.seekg(0) || !file.read(reinterpret_cast<char*>(ident), sizeof ident)) return std::nullopt;
  if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
  if (ident[EI_CLASS] == ELFCLASS64) return CheckExtents<Elf64_Ehdr, Elf64_Phdr>(file, path, size);
  if (ident[EI_CLASS] == ELFCLASS32) return CheckExtents<Elf32_Ehdr, Elf32_Phdr>(file, path, size);
  return std::nullopt;
}

// A private copy of a library, under the same file name (which names its entry), removed with its
// folder on destruction.
class PrivateCopy {
 public:
  explicit PrivateCopy(const std::string& path) {
    std::error_code error;
    std::string folder = (std::filesystem::temp_directory_path(error) / "gox-module-XXXXXX").string();
    if (error || mkdtemp(folder.data()) == nullptr) {
      error_ = error ? error.message() : std::strerror(errno);
      return;
    }
    folder_ = folder;
    const std::string copy = folder + "/" + std::filesystem::path(path).filename().string();
    if (!std::filesystem::copy_file(path, copy, error)) {
      error_ = error.message();
      return;
    }
    path_ = copy;
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  ~PrivateCopy() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  // Empty when the copy failed; Error() tells why.
  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] const std::string& Error() const { return error_; }

 private:
  std::string folder_;
  std::string path_;
  std::string error_;
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

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

bool PluginLibrary::Open(const std::string& path, bool keepMapped, bool privateCopy) {
  Close();
  error_.clear();
  std::optional<PrivateCopy> copy;
  if (privateCopy) {
    copy.emplace(path);
    if (copy->Path().empty()) {
      char message[1024];
      std::snprintf(message, sizeof message, kNoCopy, path.c_str(), copy->Error().c_str());
      error_ = message;
      return false;
    }
  }
  const std::string& opened = copy ? copy->Path() : path;
  if (std::optional<std::string> incomplete = CheckComplete(opened)) {
    error_ = ReplaceAll(std::move(*incomplete), opened, path);
    return false;
  }
  handle_ = dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
  if (handle_ == nullptr) {
    const char* text = dlerror();
    // The loader names the file it opened; the caller knows the file by its own path.
    error_ = text != nullptr ? ReplaceAll(text, opened, path) : path;
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
