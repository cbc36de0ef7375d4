// gox-services: the remote loadouts and inventory services the loadouts plugin talks to, on one port.
// See the README's "Running gox-services" and `gox-services --help`.

#include <cstdio>
#include <string>
#include <vector>

#include "services/services_server.h"
#include "tools/common/stop_signals.h"
#include "tools/common/token_signing.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = GoxServices::ParseArguments(arguments);
  if (std::holds_alternative<GoxServices::HelpWanted>(parsed)) {
    std::fputs(GoxServices::kUsage, stdout);
    return 0;
  }
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "gox-services: %s\n%s", error->c_str(), GoxServices::kUsage);
    return 2;
  }
  const auto options = std::get<GoxServices::ServicesOptions>(std::move(parsed));

  GoxTools::BlockStopSignals();

  GoxServices::ServicesServer server(options, GoxTools::TokenSecretFromEnvironment());
  if (auto error = server.Start()) {
    std::fprintf(stderr, "gox-services: %s\n", error->c_str());
    return 1;
  }
  std::fprintf(stderr, "gox-services: loadouts database %s\n", server.DatabasePath().c_str());
  std::printf("gox-services listening on http://%s:%d\n", options.host.c_str(), server.Port());
  std::fflush(stdout);
  std::fprintf(stderr, "gox-services: stopping on %s\n", GoxTools::WaitForStopSignal());
  server.Stop();
  return 0;
}
