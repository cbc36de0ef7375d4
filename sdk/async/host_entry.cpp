#include "sdk/async/host_entry.h"

#include <utility>

namespace Quarn {
namespace {

struct DeferredAction {
  void (*action)(void*) = nullptr;
  void* context = nullptr;
};

// Everything runs on the plugin thread, where the host core calls in.
struct EntryState {
  std::size_t depth = 0;
  DeferredAction deferred[kMaxDeferredActions];
  std::size_t deferredCount = 0;
};

EntryState& State() noexcept {
  thread_local EntryState state;
  return state;
}

}  // namespace

HostEntry::HostEntry() noexcept {
  ++State().depth;
}

HostEntry::~HostEntry() {
  EntryState& state = State();
  if (--state.depth != 0) return;
  // An action may itself defer another (it runs outside every entry, so that one runs at once).
  while (state.deferredCount > 0) {
    const DeferredAction next = std::exchange(state.deferred[--state.deferredCount], DeferredAction{});
    next.action(next.context);
  }
}

std::size_t HostEntryDepth() noexcept {
  return State().depth;
}

void RunAfterHostEntries(void (*action)(void*), void* context) noexcept {
  if (action == nullptr) return;
  EntryState& state = State();
  if (state.depth == 0 || state.deferredCount == kMaxDeferredActions) {
    action(context);
    return;
  }
  state.deferred[state.deferredCount++] = DeferredAction{action, context};
}

}  // namespace Quarn
