#include "tools/gox_host/host_options.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "tools/common/listen_address.h"

namespace GoxHostApp {
namespace {

constexpr const char* kModuleFiles[] = {"libgox_loadouts.so", "libgox_inventory.so"};

// A whole number in [low, high], nothing else.
template <class Number>
std::optional<Number> ParseNumber(const std::string& text, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

}  // namespace

std::variant<HostServerOptions, HelpWanted, std::string> ParseArguments(
    const std::vector<std::string>& arguments) {
  HostServerOptions options;
  options.frontDoor.port = kDefaultPort;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    if (flag == "--help" || flag == "-h") return HelpWanted{};
    if (flag == "--no-admin") {
      options.admin = false;
      continue;
    }
    if (flag == "--access-log") {
      options.frontDoor.accessLog = true;
      continue;
    }
    if (flag == "--watch") {
      options.watch = true;
      continue;
    }
    // A missing value is told only for a flag that takes one: an unknown flag is told as such first.
    const bool hasValue = i + 1 < arguments.size();
    const std::string value = hasValue ? arguments[++i] : std::string();
    const auto milliseconds = [&](std::chrono::milliseconds& out) {
      const auto number = ParseNumber<std::int64_t>(value, 1, 24LL * 3600 * 1000);
      if (number) out = std::chrono::milliseconds(*number);
      return number.has_value();
    };
    bool ok = true;
    if (flag == "--module") {
      options.modulePaths.push_back(value);
    } else if (flag == "--fixtures") {
      options.fixturesPath = value;
    } else if (flag == "--services-url") {
      ok = value.starts_with("http://") || value.starts_with("https://");
      options.servicesUrl = value;
    } else if (flag == "--listen") {
      const auto listen = GoxTools::ParseListenAddress(value);
      ok = listen.has_value();
      if (ok) std::tie(options.frontDoor.host, options.frontDoor.port) = *listen;
    } else if (flag == "--read-timeout-ms") {
      ok = milliseconds(options.frontDoor.http.headerTimeout);
      options.frontDoor.http.bodyTimeout = options.frontDoor.http.headerTimeout;
      options.frontDoor.http.writeTimeout = options.frontDoor.http.headerTimeout;
    } else if (const std::optional<bool> limit =
                   GoxTools::ApplyHttpLimitFlag(flag, value, options.frontDoor.http)) {
      ok = *limit;
    } else if (flag == "--call-timeout-ms") {
      ok = milliseconds(options.frontDoor.callTimeout);
    } else if (flag == "--watch-settle-ms") {
      ok = milliseconds(options.watcher.settle);
    } else if (flag == "--reload-wait-ms") {
      ok = milliseconds(options.frontDoor.reloadWait);
    } else if (flag == "--connect-timeout-ms") {
      const auto number = ParseNumber<std::int64_t>(value, 1, 3600 * 1000);
      ok = number.has_value();
      if (ok) options.transport.connectTimeoutMs = *number;
    } else if (flag == "--request-timeout-ms") {
      const auto number = ParseNumber<std::int64_t>(value, 1, 24LL * 3600 * 1000);
      ok = number.has_value();
      if (ok) options.transport.totalTimeoutMs = *number;
    } else {
      return (flag.starts_with("-") ? "unknown option " : "unknown argument ") + flag;
    }
    if (!hasValue) return flag + " needs a value";
    if (!ok) return "bad value for " + flag + ": " + value;
  }
  return options;
}

std::vector<std::string> DefaultModulePaths(const std::string& executablePath) {
  const std::size_t slash = executablePath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : executablePath.substr(0, slash);
  std::vector<std::string> paths;
  for (const char* file : kModuleFiles)
    paths.push_back(folder + "/" + file);
  return paths;
}

}  // namespace GoxHostApp
