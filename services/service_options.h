// The command line of gox-services.

#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "tools/common/http_limit_flags.h"

namespace GoxServices {

inline constexpr int kDefaultPort = 8091;

// gox-host's front door takes bodies up to 1 MiB; the plugin forwards them pretty-printed (a line of
// "\r\n" and four spaces per level for every value) with signed tokens added, which makes a body some
// 5 to 8 times larger when its item values nest up to three levels deep, and at most 16 times for seven.
// gox-services takes 16 times the front door's limit, so that what passes the front door is not refused
// here.
inline constexpr std::size_t kFrontDoorBodyLimit = 1u << 20;
inline constexpr std::size_t kBodyLimitFactor = 16;

[[nodiscard]] inline GoxTools::HttpLimits ServicesHttpLimits() {
  GoxTools::HttpLimits limits;
  limits.bodyLimit = kFrontDoorBodyLimit * kBodyLimitFactor;
  return limits;
}

struct ServicesOptions {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
  std::string dbPath;        // empty: a temporary database, removed when gox-services stops
  std::string fixturesPath;  // empty: the embedded inventories only
  int threads = 4;           // I/O threads; the services' work runs on them
  GoxTools::HttpLimits http = ServicesHttpLimits();
};

inline constexpr const char* kUsage =
    R"(usage: gox-services [options]
  --listen HOST:PORT   where to serve HTTP (default 127.0.0.1:8091; port 0 picks a free one)
  --db PATH            the SQLite database of the loadouts (default: a temporary one)
  --fixtures FILE      JSON inventories per puuid for the inventory service
  --threads N          I/O threads, which also run the services' work (default 4)
  --body-limit BYTES   largest request body (default 16777216: 16 times gox-host's 1 MiB, what the
                       plugin makes of a front-door-sized body once pretty-printed with tokens added)
  --help               this text
HTTP limits (reaching one closes that connection only):
)" GOX_HTTP_LIMIT_USAGE
    R"(The secret that signs and verifies tokens comes from GOX_TOKEN_SECRET (a development default otherwise).
)";

struct HelpWanted {};

// The options of a command line (without the program name); the reason when it is wrong.
[[nodiscard]] std::variant<ServicesOptions, HelpWanted, std::string> ParseArguments(
    const std::vector<std::string>& arguments);

}  // namespace GoxServices
