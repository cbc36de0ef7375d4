// HostServer: gox-host put together: the plugin thread with the module and the stand-ins, the event
// hub, the admin API and the front door serving on a thread of its own. main() runs one; tests run
// one in-process on an ephemeral port.
//
//   GoxHostApp::HostLog log;
//   GoxHostApp::HostServer server(options, log);
//   if (auto error = server.Start()) ...;
//   ... http://127.0.0.1:<server.Port()> ...
//   server.Stop();  // stops accepting, answers the calls in flight, then Shutdown

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "tools/gox_host/admin_api.h"
#include "tools/gox_host/event_hub.h"
#include "tools/gox_host/front_door.h"
#include "tools/gox_host/host_log.h"
#include "tools/gox_host/host_options.h"
#include "tools/gox_host/module_watcher.h"
#include "tools/gox_host/plugin_stand_ins.h"
#include "tools/gox_host/plugin_thread.h"

namespace GoxHostApp {

class HostServer {
 public:
  HostServer(HostServerOptions options, HostLog& log);
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;
  ~HostServer() { Stop(); }

  // Reads the fixtures, loads the modules (`entry` when given, then options.modulePaths), initializes
  // them and starts serving; the reason when any step failed. A module that refuses its handshake or
  // its Initialize is logged and left out while the others serve. Each library is mapped from a
  // private copy, so its file can be rebuilt while it runs; with options.watch a settled change of a
  // serving module's file reloads that module (logged like a reload through the admin API).
  [[nodiscard]] std::optional<std::string> Start(PluginLoadEntry entry = nullptr);
  [[nodiscard]] int Port() const { return frontDoor_ ? frontDoor_->Port() : 0; }
  // The short names of the modules serving, in load order, separated by ", ".
  [[nodiscard]] std::string ModuleNames() const { return plugin_.Snapshot()->shortName; }
  [[nodiscard]] std::size_t OpenConnections() const { return frontDoor_ ? frontDoor_->OpenConnections() : 0; }
  // Stops accepting, lets the calls in flight be answered, ends the event streams, then shuts the
  // module down. More than once is fine.
  void Stop();

 private:
  void OnModuleFileChanged(const std::string& path);

  HostServerOptions options_;
  HostLog& log_;
  PluginStandIns standIns_;
  EventHub events_;
  PluginThread plugin_;
  std::unique_ptr<AdminApi> admin_;
  std::unique_ptr<FrontDoor> frontDoor_;
  std::unique_ptr<ModuleWatcher> watcher_;  // with options.watch
  std::thread serveThread_;
};

}  // namespace GoxHostApp
