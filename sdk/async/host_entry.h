// Host entries: the host core's calls into the module (event callbacks, endpoint calls, Initialize) that
// are in progress on the plugin thread. The host core may call in again while the module is inside
// Yield, so entries nest; work that must not happen under the module's own frames (destroying the plugin
// when Shutdown arrives during a Yield) waits until the outermost entry has returned.

#pragma once

#include <cstddef>

namespace Quarn {

// Marks one host call into the module for its lifetime; the outermost one, when it ends, runs the
// actions deferred meanwhile.
//
//   void Callback(const PluginEventRecord* event) noexcept {
//     const HostEntry entry;
//     ...
//   }
class HostEntry {
 public:
  HostEntry() noexcept;
  ~HostEntry();
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;
};

// The number of host calls into the module in progress on this thread.
[[nodiscard]] std::size_t HostEntryDepth() noexcept;

// Runs action(context) at once when no host call into the module is in progress on this thread, else
// when the outermost one returns. At most kMaxDeferredActions wait at a time; a further one runs at once.
inline constexpr std::size_t kMaxDeferredActions = 4;
void RunAfterHostEntries(void (*action)(void*), void* context) noexcept;

}  // namespace Quarn
