#include "tools/common/listen_address.h"

#include <charconv>

namespace GoxTools {

std::optional<std::pair<std::string, int>> ParseListenAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  int port = -1;
  const auto [end, error] = std::from_chars(first, last, port);
  if (first == last || error != std::errc() || end != last || port < 0 || port > 65535) return std::nullopt;
  return std::make_pair(host, port);
}

bool IsLoopbackAddress(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

}  // namespace GoxTools
