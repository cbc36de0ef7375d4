// The command line of gox-services.

#pragma once

#include <string>
#include <variant>
#include <vector>

namespace GoxServices {

inline constexpr int kDefaultPort = 8091;

struct ServicesOptions {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
  std::string dbPath;        // empty: a temporary database, removed when gox-services stops
  std::string fixturesPath;  // empty: the embedded inventories only
  int threads = 32;          // connections served at once
};

inline constexpr const char* kUsage = R"(usage: gox-services [options]
  --listen HOST:PORT   where to serve HTTP (default 127.0.0.1:8091; port 0 picks a free one)
  --db PATH            the SQLite database of the loadouts (default: a temporary one)
  --fixtures FILE      JSON inventories per puuid for the inventory service
  --threads N          connections served at once (default 32)
  --help               this text
The secret that signs and verifies tokens comes from GOX_TOKEN_SECRET (a development default otherwise).
)";

struct HelpWanted {};

// The options of a command line (without the program name); the reason when it is wrong.
[[nodiscard]] std::variant<ServicesOptions, HelpWanted, std::string> ParseArguments(
    const std::vector<std::string>& arguments);

}  // namespace GoxServices
