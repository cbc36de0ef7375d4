// Loading a module: opening its shared library and the registration handshake with its entry.

#pragma once

#include <cstdint>
#include <string>

#include "plugin/plugin_abi.h"

namespace GoxHost {

// The name of the loadouts module's entry, which the loader also tries for a module whose file name
// names no entry of its own.
inline constexpr const char* kModuleEntryName = "load_gox_loadouts";

// The entry a module's file name announces: "load_" and the file's stem without "lib", with '-' and
// '.' as '_' ("build/libgox_inventory.so" gives "load_gox_inventory").
[[nodiscard]] std::string EntryNameFor(const std::string& path);

// A plugin-API version as the host sends it.
struct HostVersion {
  std::uint32_t major = 18;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
};

// An open shared library; closes it when destroyed.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  PluginLibrary(PluginLibrary&& other) noexcept;
  PluginLibrary& operator=(PluginLibrary&& other) noexcept;
  ~PluginLibrary() { Close(); }

  // Opens the library at `path` and looks up its entry, EntryNameFor(path) or else kModuleEntryName; on
  // failure returns false and Error() tells why (the loader's own text).
  // With `keepMapped` the library stays mapped after Close, until the process ends: what the module
  // created for its whole life (singletons it never destroys, records a host may release late) stays
  // valid, and loading the same path again finds the same image.
  // With `privateCopy` the file is first copied to a folder of its own under the temporary directory
  // and opened there; the copy is removed at once (the mapping outlives it). Each open then maps a
  // fresh image, even of a path opened before, and rebuilding or copying over the file at `path`
  // cannot change code that runs.
  [[nodiscard]] bool Open(const std::string& path, bool keepMapped = false, bool privateCopy = false);
  void Close();

  [[nodiscard]] PluginLoadEntry Entry() const { return entry_; }
  [[nodiscard]] const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  PluginLoadEntry entry_ = nullptr;
  std::string error_;
};

// The outcome of the handshake.
struct Handshake {
  std::uint32_t returned = 0;   // the entry's return value
  PluginRegistration sent{};    // the record as the host filled it before the call
  PluginRegistration record{};  // the record as the entry left it
  // The entry returned 0 and filled the table, the plugin object and the description.
  [[nodiscard]] bool Loaded() const {
    return returned == 0 && record.api != nullptr && record.plugin != nullptr;
  }
  // The record is byte for byte what the host wrote.
  [[nodiscard]] bool RecordUnchanged() const;
};

// Fills words 0 to 2 with `version` and the rest with zero, calls `entry` and returns what it did.
[[nodiscard]] Handshake PerformHandshake(PluginLoadEntry entry, HostVersion version);

}  // namespace GoxHost
