#include "services/service_options.h"

#include <charconv>
#include <tuple>

#include "tools/common/listen_address.h"

namespace GoxServices {

std::variant<ServicesOptions, HelpWanted, std::string> ParseArguments(
    const std::vector<std::string>& arguments) {
  ServicesOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    if (flag == "--help" || flag == "-h") return HelpWanted{};
    GoxTools::HttpLimits probe;
    if (flag != "--listen" && flag != "--db" && flag != "--fixtures" && flag != "--threads" &&
        !GoxTools::ApplyHttpLimitFlag(flag, "", probe).has_value())
      return (flag.starts_with("-") ? "unknown option " : "unknown argument ") + flag;
    if (i + 1 >= arguments.size()) return flag + " needs a value";
    const std::string& value = arguments[++i];
    bool ok = !value.empty();
    if (const std::optional<bool> limit = GoxTools::ApplyHttpLimitFlag(flag, value, options.http)) {
      ok = *limit;
    } else if (flag == "--listen") {
      const auto listen = GoxTools::ParseListenAddress(value);
      ok = listen.has_value();
      if (ok) std::tie(options.host, options.port) = *listen;
    } else if (flag == "--db") {
      options.dbPath = value;
    } else if (flag == "--fixtures") {
      options.fixturesPath = value;
    } else {
      int threads = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), threads);
      ok = error == std::errc() && end == value.data() + value.size() && threads >= 1 && threads <= 1024;
      if (ok) options.threads = threads;
    }
    if (!ok) return "bad value for " + flag + ": " + value;
  }
  return options;
}

}  // namespace GoxServices
