#include "tools/gox_host/host_server.h"

#include <fstream>
#include <sstream>

#include "tools/common/token_signing.h"

namespace GoxHostApp {
namespace {

constexpr const char* kNoFixtures = "could not read the fixtures file %s";
constexpr const char* kBadFixtures = "fixtures file %s: %s";
constexpr const char* kProblem = "the module broke a rule: ";
constexpr const char* kWatching = "watching %s for changes";
constexpr const char* kNoModuleFrom = "%s changed, but no module loaded from it serves; not reloaded";

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

HostServer::HostServer(HostServerOptions options, HostLog& log)
    : options_(std::move(options)), log_(log), standIns_(GoxTools::TokenSecretFromEnvironment()) {}

std::optional<std::string> HostServer::Start(PluginLoadEntry entry) {
  if (!options_.fixturesPath.empty()) {
    const std::optional<std::string> text = ReadFile(options_.fixturesPath);
    if (!text) return FormatText(kNoFixtures, options_.fixturesPath.c_str());
    if (auto error = standIns_.ApplyFixtures(*text))
      return FormatText(kBadFixtures, options_.fixturesPath.c_str(), error->c_str());
  }
  if (!options_.servicesUrl.empty()) standIns_.SetServicesUrl(options_.servicesUrl);

  PluginThreadOptions plugin;
  plugin.modulePaths = options_.modulePaths;
  plugin.leftOut = [this](const std::string& why) { log_.Warning(why); };
  plugin.entry = entry;
  plugin.host.keepRecords = false;
  // gox-host runs one module for the life of the process; the module's never-destroyed singletons
  // (its value page pool, its table of answered calls) stay valid and are not lost on every unload.
  plugin.host.keepModuleMapped = true;
  // A rebuild or a copy over the file cannot change the code that runs, and a reload maps it afresh.
  plugin.host.loadPrivateCopy = true;
  plugin.host.logSink = [this](std::int32_t level, const std::string& message) {
    log_.WriteModule(level, message);
  };
  plugin.host.problemSink = [this](const std::string& problem) { log_.Warning(kProblem + problem); };
  plugin.prepare = [this](GoxHost::HostCore& host) {
    standIns_.Install(host);
    host.SetTransport(std::make_shared<CurlTransport>(options_.transport));
    host.ObserveAll([this](const GoxHost::QueuedEvent& event) { events_.Publish(event); });
  };
  if (auto error = plugin_.Start(std::move(plugin))) return error;

  if (options_.admin)
    admin_ = std::make_unique<AdminApi>(plugin_, standIns_, options_.frontDoor.callTimeout, &log_);
  frontDoor_ = std::make_unique<FrontDoor>(options_.frontDoor, plugin_, events_, admin_.get(), log_);
  if (auto error = frontDoor_->Bind()) {
    plugin_.Stop();
    return error;
  }
  serveThread_ = std::thread([this] { frontDoor_->Serve(); });
  if (options_.watch) {
    std::vector<std::string> paths;
    const std::shared_ptr<const ModuleSnapshot> snapshot = plugin_.Snapshot();
    for (const GoxHost::ModuleInfo& module : snapshot->modules)
      if (!module.libraryPath.empty()) {
        paths.push_back(module.libraryPath);
        log_.Info(FormatText(kWatching, module.libraryPath.c_str()));
      }
    watcher_ = std::make_unique<ModuleWatcher>(
        std::move(paths), options_.watcher, [this](const std::string& path) { OnModuleFileChanged(path); });
  }
  return std::nullopt;
}

void HostServer::OnModuleFileChanged(const std::string& path) {
  const std::shared_ptr<const ModuleSnapshot> snapshot = plugin_.Snapshot();
  for (const GoxHost::ModuleInfo& module : snapshot->modules)
    if (module.libraryPath == path) {
      (void)ReloadModuleAndReport(plugin_, &log_, module.name, options_.frontDoor.callTimeout, "--watch");
      return;
    }
  log_.Warning(FormatText(kNoModuleFrom, path.c_str()));
}

void HostServer::Stop() {
  if (watcher_) watcher_->Stop();
  if (frontDoor_) frontDoor_->Stop();
  if (serveThread_.joinable()) serveThread_.join();
  plugin_.Stop();
}

}  // namespace GoxHostApp
