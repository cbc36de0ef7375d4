#include "host/event_router.h"

#include <algorithm>

#include "host/host_value_codec.h"

namespace GoxHost {

void EventRouter::Register(const std::string& name, std::uint32_t hostHandle, PluginListener listener) {
  listeners_.insert_or_assign({name, hostHandle}, listener);
}

bool EventRouter::Unregister(const std::string& name, std::uint32_t hostHandle) {
  return listeners_.erase({name, hostHandle}) > 0;
}

std::vector<PluginListener> EventRouter::ListenersOf(const std::string& name) const {
  std::vector<PluginListener> result;
  for (auto it = listeners_.lower_bound({name, 0}); it != listeners_.end() && it->first.first == name; ++it)
    result.push_back(it->second);
  return result;
}

std::vector<std::string> EventRouter::RegisteredNames() const {
  std::vector<std::string> names;
  for (const auto& [key, listener] : listeners_)
    if (names.empty() || names.back() != key.first) names.push_back(key.first);
  return names;
}

std::vector<std::string> EventRouter::RegisteredNames(std::uint32_t hostHandle) const {
  std::vector<std::string> names;
  for (const auto& [key, listener] : listeners_)
    if (key.second == hostHandle) names.push_back(key.first);
  return names;
}

void EventRouter::ClearListeners(std::uint32_t hostHandle) {
  std::erase_if(listeners_, [&](const auto& entry) { return entry.first.second == hostHandle; });
}

void EventRouter::Observe(const std::string& name, HostListener listener) {
  observers_.emplace(name, std::move(listener));
}

void EventRouter::Queue(QueuedEvent event) {
  std::lock_guard lock(queueMutex_);
  queue_.push_back(std::move(event));
}

std::size_t EventRouter::PendingCount() const {
  std::lock_guard lock(queueMutex_);
  return queue_.size();
}

std::size_t EventRouter::Deliver(std::size_t limit) {
  std::size_t delivered = 0;
  while (delivered < limit) {
    QueuedEvent event;
    {
      std::lock_guard lock(queueMutex_);
      if (queue_.empty()) break;
      event = std::move(queue_.front());
      queue_.pop_front();
    }
    DeliverNow(event);
    ++delivered;
  }
  return delivered;
}

void EventRouter::DeliverNow(const QueuedEvent& event) {
  const auto [first, last] = observers_.equal_range(event.name);
  std::vector<HostListener> observers = allObservers_;
  for (auto it = first; it != last; ++it)
    observers.push_back(it->second);
  for (const HostListener& observer : observers)
    observer(event);
  // Each listener gets its own copy of the payload: a listener that writes into it cannot change what
  // the next one reads.
  for (const PluginListener& listener : ListenersOf(event.name)) {
    if (listener.callback == nullptr) continue;
    PluginEventRecord record{};
    record.name = event.name.c_str();
    record.payload = ToHostValue(event.payload.Get());
    record.flag = listener.flag;
    record.context = listener.context;
    listener.callback(&record);
    ReleaseHostValue(&record.payload);
  }
}

}  // namespace GoxHost
