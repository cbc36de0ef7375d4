// Addresses as gox-host and gox-services see them: the HOST:PORT of a --listen flag, and whether a
// client connects from this machine (their admin APIs answer only those).

#pragma once

#include <optional>
#include <string>
#include <utility>

namespace GoxTools {

// The host and port of "HOST:PORT" (an IPv6 host in brackets, "[::1]:8090"); port 0 asks for a free
// one. Nothing when the text has no host, no port, or a port outside 0..65535.
[[nodiscard]] std::optional<std::pair<std::string, int>> ParseListenAddress(const std::string& text);

// Whether a client address (as the HTTP server reports it) is a loopback address: 127.0.0.0/8, ::1, or
// 127.0.0.0/8 mapped into IPv6.
[[nodiscard]] bool IsLoopbackAddress(const std::string& address);

}  // namespace GoxTools
