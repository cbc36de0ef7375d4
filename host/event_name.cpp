#include "host/event_name.h"

#include <algorithm>
#include <cstddef>

namespace GoxHost {
namespace {

constexpr std::string_view kEventPrefix = "OnJsonApiEvent";
constexpr std::string_view kWideRoot = "gox-platform-config";
constexpr std::size_t kSegments = 3;
constexpr std::size_t kWideSegments = 5;

}  // namespace

std::string ResourceEventName(std::string_view path) {
  std::string name(kEventPrefix);
  std::size_t kept = 0;
  std::size_t limit = kSegments;
  std::size_t position = 0;
  while (position < path.size() && kept < limit) {
    const std::size_t end = std::min(path.find('/', position), path.size());
    if (end > position) {
      const std::string_view segment = path.substr(position, end - position);
      if (kept == 0 && segment == kWideRoot) limit = kWideSegments;
      name += '_';
      name += segment;
      ++kept;
    }
    position = end + 1;
  }
  return name;
}

}  // namespace GoxHost
