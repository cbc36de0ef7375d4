// The HOST:PORT value of a --listen flag, shared by gox-host and gox-services.

#pragma once

#include <optional>
#include <string>
#include <utility>

namespace GoxTools {

// The host and port of "HOST:PORT" (an IPv6 host in brackets, "[::1]:8090"); port 0 asks for a free
// one. Nothing when the text has no host, no port, or a port outside 0..65535.
[[nodiscard]] std::optional<std::pair<std::string, int>> ParseListenAddress(const std::string& text);

}  // namespace GoxTools
