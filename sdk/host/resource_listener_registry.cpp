#include "sdk/host/resource_listener_registry.h"

#include <vector>

#include "sdk/host/resource_paths.h"

namespace Quarn {

void ResourceListenerRegistry::Subscribe(std::string_view) {}

void ResourceListenerRegistry::Unsubscribe(std::string_view) {}

ResourceListenerRegistry::~ResourceListenerRegistry() = default;

bool ResourceListenerRegistry::StoreListener(std::string_view path, Listener listener) {
  const bool exact = path.find('*') == std::string_view::npos;
  if (exact) {
    exact_[std::string(path)] = std::move(listener);
  } else {
    patterns_[std::string(path)] = std::move(listener);
  }
  return exact;
}

void ResourceListenerRegistry::DispatchToListeners(const PluginResourceEvent& event) const {
  std::string path = event.uri;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');

  std::vector<Listener> due;
  if (const auto found = exact_.find(path); found != exact_.end()) due.push_back(found->second);
  for (const auto& [pattern, listener] : patterns_) {
    if (MatchesResourcePattern(pattern, path)) due.push_back(listener);
  }
  for (const Listener& listener : due) {
    if (listener) listener(event);
  }
}

void ResourceListenerRegistry::ClearListeners() {
  exact_.clear();
  patterns_.clear();
}

}  // namespace Quarn
