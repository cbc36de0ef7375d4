// gox-host: runs a gox-loadouts module behind HTTP, with stand-ins for the plugins it talks to.
// See the README's "Running gox-host" and `gox-host --help`.

#include <curl/curl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/stop_signals.h"
#include "tools/gox_host/console_files.h"
#include "tools/gox_host/host_server.h"

namespace {

std::string ExecutablePath(const char* argv0) {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return argv0;
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = GoxHostApp::ParseArguments(arguments);
  if (std::holds_alternative<GoxHostApp::HelpWanted>(parsed)) {
    std::fputs(GoxHostApp::kUsage, stdout);
    return 0;
  }
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "gox-host: %s\n%s", error->c_str(), GoxHostApp::kUsage);
    return 2;
  }
  GoxHostApp::HostServerOptions options = std::get<GoxHostApp::HostServerOptions>(std::move(parsed));
  if (options.modulePath.empty()) options.modulePath = GoxHostApp::DefaultModulePath(ExecutablePath(argv[0]));
  if (options.frontDoor.consoleFolder.empty())
    options.frontDoor.consoleFolder = GoxHostApp::DefaultConsoleFolder(ExecutablePath(argv[0]));

  GoxTools::BlockStopSignals();
  curl_global_init(CURL_GLOBAL_DEFAULT);

  GoxHostApp::HostLog log;
  int status = 0;
  {
    GoxHostApp::HostServer server(options, log);
    if (auto error = server.Start()) {
      log.Error(*error);
      status = 1;
    } else {
      log.Info("module " + options.modulePath + " loaded and initialized");
      std::printf("gox-host listening on http://%s:%d\n", options.frontDoor.host.c_str(), server.Port());
      std::fflush(stdout);
      log.Info(std::string("stopping on ") + GoxTools::WaitForStopSignal());
      server.Stop();
      log.Info("stopped");
    }
  }
  curl_global_cleanup();
  return status;
}
