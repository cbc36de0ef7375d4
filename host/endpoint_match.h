// Finding the endpoint of an API description that serves a concrete method and path.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/api_description.h"

namespace GoxHost {

// Whether a path template ("/a/v1/items/{id}") matches a concrete path (without query): the same
// number of '/'-separated segments, literal segments equal byte for byte, every "{name}" segment
// non-empty. Returns the number of non-empty literal segments on a match (to prefer the most specific
// template).
[[nodiscard]] std::optional<int> MatchTemplate(std::string_view pathTemplate, std::string_view path);

// The endpoint for a method and a path (without query), the most specific template winning; null when
// none. `pathMatched` tells whether some template matched the path with another method.
[[nodiscard]] const EndpointInfo* FindEndpoint(const ApiDescription& description, std::uint32_t method,
                                               std::string_view customMethod, std::string_view path,
                                               bool* pathMatched = nullptr);

// The method and path template of an endpoint with its parameter names left out: two endpoints with the
// same key answer the same requests.
[[nodiscard]] std::string RouteKey(const EndpointInfo& endpoint);

}  // namespace GoxHost
