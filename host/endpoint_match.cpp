#include "host/endpoint_match.h"

#include <vector>

namespace GoxHost {
namespace {

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    segments.push_back(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return segments;
}

bool IsParameter(std::string_view segment) {
  return segment.size() >= 2 && segment.front() == '{' && segment.back() == '}';
}

}  // namespace

std::optional<int> MatchTemplate(std::string_view pathTemplate, std::string_view path) {
  const std::vector<std::string_view> wanted = Segments(pathTemplate);
  const std::vector<std::string_view> given = Segments(path);
  if (wanted.size() != given.size()) return std::nullopt;
  int literals = 0;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (IsParameter(wanted[i])) {
      if (given[i].empty()) return std::nullopt;
    } else if (wanted[i] != given[i]) {
      return std::nullopt;
    } else if (!wanted[i].empty()) {
      ++literals;
    }
  }
  return literals;
}

const EndpointInfo* FindEndpoint(const ApiDescription& description, std::uint32_t method,
                                 std::string_view customMethod, std::string_view path, bool* pathMatched) {
  const EndpointInfo* best = nullptr;
  int bestLiterals = -1;
  if (pathMatched != nullptr) *pathMatched = false;
  for (const EndpointInfo& endpoint : description.endpoints) {
    const std::optional<int> literals = MatchTemplate(endpoint.path, path);
    if (!literals) continue;
    if (pathMatched != nullptr) *pathMatched = true;
    const bool methodFits =
        endpoint.method == kHttpMethodAny ||
        (endpoint.method == method && (method != kHttpMethodOther || endpoint.customMethod == customMethod));
    if (methodFits && *literals > bestLiterals) {
      best = &endpoint;
      bestLiterals = *literals;
    }
  }
  return best;
}

std::string RouteKey(const EndpointInfo& endpoint) {
  std::string key =
      endpoint.method == kHttpMethodOther ? endpoint.customMethod : std::to_string(endpoint.method);
  key += ' ';
  const std::vector<std::string_view> segments = Segments(endpoint.path);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) key += '/';
    key += IsParameter(segments[i]) ? std::string_view("{}") : segments[i];
  }
  return key;
}

}  // namespace GoxHost
