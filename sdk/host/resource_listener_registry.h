// ResourceListenerRegistry: the plugin's listeners to resources, by exact path or by '*' pattern, and
// the dispatch of one resource event to them.

#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sdk/host/bridge_types.h"

namespace Quarn {

// Holds one listener per exact path and one per pattern. The base class of the plugin object: its
// Subscribe and Unsubscribe do nothing here, the host bridge overrides them.
class ResourceListenerRegistry {
 public:
  // Receives the event unchanged; the uri is the one the event carries.
  using Listener = std::function<void(const PluginResourceEvent&)>;

  ResourceListenerRegistry() = default;
  ResourceListenerRegistry(const ResourceListenerRegistry&) = delete;
  ResourceListenerRegistry& operator=(const ResourceListenerRegistry&) = delete;

  virtual void Subscribe(std::string_view path);
  virtual void Unsubscribe(std::string_view path);
  virtual ~ResourceListenerRegistry();

  // Stores the listener under path, as a pattern when path contains '*', replacing an earlier listener
  // of the same key. Returns true for an exact path.
  bool StoreListener(std::string_view path, Listener listener);

  // Calls the exact listener of the event's uri ('/' put in front when missing), then every pattern
  // listener that matches it, in pattern order. Listeners may add or remove listeners while they run:
  // the dispatch works on copies of the listeners it found.
  void DispatchToListeners(const PluginResourceEvent& event) const;

  void ClearListeners();

 private:
  std::unordered_map<std::string, Listener> exact_;
  std::map<std::string, Listener> patterns_;
};

}  // namespace Quarn
