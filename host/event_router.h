// EventRouter: the host's event listeners and the queue through which events reach them.
//
// Sending an event never calls a listener directly: the event is copied into the queue, and the queue
// is drained on the plugin thread when the host gets control (HostCore drains it after each top-level
// call into the module and inside HostApi.yield). Listeners are looked up when an event is delivered,
// so a listener removed while an event waits in the queue does not receive it. A delivered record
// carries the listener's registration context and flag and a payload built for that listener alone.

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/json_value.h"
#include "plugin/plugin_abi.h"

namespace GoxHost {

// A listener of the module, as registered through HostApi.registerEvent.
struct PluginListener {
  PluginEventCallback callback = nullptr;
  void* context = nullptr;
  std::uint32_t flag = 0;
};

// An event waiting for delivery.
struct QueuedEvent {
  std::string name;
  JsonValue payload;
};

// A listener on the host side (a test observing the traffic).
using HostListener = std::function<void(const QueuedEvent& event)>;

class EventRouter {
 public:
  // Registers the module's listener for `name` under `hostHandle`; a second registration of the same
  // name and handle replaces the first.
  void Register(const std::string& name, std::uint32_t hostHandle, PluginListener listener);
  // Removes it; returns whether there was one.
  bool Unregister(const std::string& name, std::uint32_t hostHandle);
  // The module's listeners of `name`.
  [[nodiscard]] std::vector<PluginListener> ListenersOf(const std::string& name) const;
  // The names the module listens to, sorted.
  [[nodiscard]] std::vector<std::string> RegisteredNames() const;

  // The names listened to under `hostHandle` (one module's), sorted.
  [[nodiscard]] std::vector<std::string> RegisteredNames(std::uint32_t hostHandle) const;

  // Forgets every listener (at shutdown, once the modules' code may be gone).
  void ClearListeners() { listeners_.clear(); }
  // Forgets the listeners registered under `hostHandle`: one module's.
  void ClearListeners(std::uint32_t hostHandle);

  // Adds a host-side listener of `name`; host listeners are called before the module's.
  void Observe(const std::string& name, HostListener listener);
  // Adds a host-side listener of every event, called before the listeners of the event's name.
  void ObserveAll(HostListener listener) { allObservers_.push_back(std::move(listener)); }

  // Queues an event; may be called from any thread.
  void Queue(QueuedEvent event);
  [[nodiscard]] std::size_t PendingCount() const;

  // Delivers at most `limit` queued events, oldest first, and returns how many it delivered. Each event
  // leaves the queue before its listeners run, so a listener that drains the queue again (inside a
  // yield) sees only the events behind it.
  std::size_t Deliver(std::size_t limit);
  // Delivers one event at once, ahead of the queue.
  void DeliverNow(const QueuedEvent& event);

  mutable std::mutex queueMutex_;
  std::deque<QueuedEvent> queue_;
  std::map<std::pair<std::string, std::uint32_t>, PluginListener> listeners_;
  std::multimap<std::string, HostListener> observers_;
  std::vector<HostListener> allObservers_;
};

}  // namespace GoxHost
