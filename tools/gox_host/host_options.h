// The command line of gox-host.

#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/common/http_limit_flags.h"
#include "tools/gox_host/curl_transport.h"
#include "tools/gox_host/front_door.h"
#include "tools/gox_host/module_watcher.h"

namespace GoxHostApp {

struct HostServerOptions {
  std::vector<std::string> modulePaths;  // in load order; empty: DefaultModulePaths
  std::string fixturesPath;              // empty: the embedded defaults only
  std::string servicesUrl;               // empty: the URLs of the fixtures
  bool admin = true;
  bool watch = false;  // reload a module when its file changes
  ModuleWatcherOptions watcher;
  FrontDoorOptions frontDoor;
  CurlTransportOptions transport;
};

inline constexpr const char* kUsage =
    R"(usage: gox-host [options]
  --module PATH            a module to load; again for more, loaded in the order given (default:
                           libgox_loadouts.so and libgox_inventory.so next to gox-host)
  --listen HOST:PORT       where to serve HTTP (default 127.0.0.1:8090; port 0 picks a free one)
  --fixtures FILE          JSON fixtures for the stand-in plugins
  --services-url URL       base URL of the loadouts and inventory services
  --no-admin               turn the admin API off
  --watch                  reload a module when its file changes and has then stayed the same for
                           --watch-settle-ms (default 300); POST /admin/modules/NAME/reload does it
                           by hand
  --watch-settle-ms N      how long a changed module file must stay unchanged before the reload
  --reload-wait-ms N       how long a request that arrives during a reload waits for it before it
                           is answered 503 without being made (default 5000)
  --body-limit BYTES       largest request body (default 1048576)
  --read-timeout-ms N      sets --header-timeout-ms, --body-timeout-ms and --write-timeout-ms at once
  --call-timeout-ms N      how long a request waits for the module (default 60000)
  --connect-timeout-ms N   outside requests: connecting (default 5000)
  --request-timeout-ms N   outside requests: the whole exchange (default 30000)
  --access-log             log one line per HTTP request
  --help                   this text
HTTP limits (reaching one closes that connection only):
)" GOX_HTTP_LIMIT_USAGE
    R"(The secret that signs inventory tokens comes from GOX_TOKEN_SECRET (a development default otherwise).
)";

inline constexpr int kDefaultPort = 8090;

struct HelpWanted {};

// The options of a command line (without the program name); the reason when it is wrong.
[[nodiscard]] std::variant<HostServerOptions, HelpWanted, std::string> ParseArguments(
    const std::vector<std::string>& arguments);

// The modules loaded by default: the loadouts and the inventory module next to the executable at
// `executablePath`.
[[nodiscard]] std::vector<std::string> DefaultModulePaths(const std::string& executablePath);

}  // namespace GoxHostApp
