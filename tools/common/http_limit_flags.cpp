#include "tools/common/http_limit_flags.h"

#include <charconv>
#include <cstdint>

namespace GoxTools {
namespace {

std::optional<std::uint64_t> ParseWhole(const std::string& text, std::uint64_t low, std::uint64_t high) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<bool> ApplyHttpLimitFlag(const std::string& flag, const std::string& value,
                                       HttpLimits& limits) {
  constexpr std::uint64_t kDay = 24ULL * 3600 * 1000;
  constexpr std::uint64_t kGiB = 1ULL << 30;
  const auto milliseconds = [&](std::chrono::milliseconds& out, std::uint64_t scale) {
    const auto number = ParseWhole(value, 1, kDay / scale);
    if (number) out = std::chrono::milliseconds(*number * scale);
    return number.has_value();
  };
  const auto bytes = [&](std::size_t& out, std::uint64_t low, std::uint64_t high) {
    const auto number = ParseWhole(value, low, high);
    if (number) out = static_cast<std::size_t>(*number);
    return number.has_value();
  };
  if (flag == "--header-timeout-ms") return milliseconds(limits.headerTimeout, 1);
  if (flag == "--body-timeout-ms") return milliseconds(limits.bodyTimeout, 1);
  if (flag == "--write-timeout-ms") return milliseconds(limits.writeTimeout, 1);
  if (flag == "--idle-timeout-s") return milliseconds(limits.idleTimeout, 1000);
  if (flag == "--body-min-rate") return bytes(limits.bodyMinRate, 1, kGiB);
  if (flag == "--header-limit") return bytes(limits.headerLimit, 256, 1 << 20);
  if (flag == "--body-limit") return bytes(limits.bodyLimit, 1, 4 * kGiB - 1);
  if (flag == "--max-connections") return bytes(limits.maxConnections, 1, 1 << 20);
  if (flag == "--max-client-connections") return bytes(limits.maxConnectionsPerClient, 1, 1 << 20);
  if (flag == "--stream-queue-limit") return bytes(limits.streamQueueLimit, 1024, kGiB);
  return std::nullopt;
}

}  // namespace GoxTools
