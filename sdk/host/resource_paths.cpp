#include "sdk/host/resource_paths.h"

#include <cstddef>

namespace Quarn {

std::string EventNameOfPath(std::string_view path) {
  // The event name plus three segments; platform configuration keys are deeper, so two more there.
  constexpr std::size_t kItems = 4;
  constexpr std::size_t kPlatformConfigItems = 6;
  std::string name = kResourceEventName;
  std::size_t items = 1;
  std::size_t limit = kItems;
  std::size_t position = 0;
  while (position < path.size() && items < limit) {
    const std::size_t slash = path.find('/', position);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > position) {
      const std::string_view segment = path.substr(position, end - position);
      if (items == 1 && segment == "gox-platform-config") limit = kPlatformConfigItems;
      name += '_';
      name += segment;
      ++items;
    }
    position = end + 1;
  }
  return name;
}

bool MatchesResourcePattern(std::string_view pattern, std::string_view path) {
  std::size_t p = 0;
  std::size_t s = 0;
  while (p < pattern.size() && s < path.size()) {
    if (pattern[p] != '*') {
      if (pattern[p] != path[s]) return false;
      ++p;
      ++s;
    } else if (path[s] == '/') {
      ++p;  // the run ends before a '/'
    } else {
      ++s;
      if (s == path.size()) ++p;  // the run ends with the path
    }
  }
  return p == pattern.size() && s == path.size();
}

}  // namespace Quarn
