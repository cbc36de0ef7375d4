// FrontDoor: gox-host's HTTP server (the shared event-driven server of tools/common), bound to
// 127.0.0.1 by default.
//
// What it answers, in this order:
//   GET / and /console/...  the developer console's files (console_files.h)
//   GET /openapi.json       the module's API as an OpenAPI 3 document
//   GET /events             a server-sent-events stream of every event the host delivers
//   /admin/...              the admin API (loopback clients only; absent with --no-admin)
//   a module endpoint       the call, handed to the plugin thread (see call_mapping.h for the answers)
//   GET /resources/{path}   the resource tree's value at /{path}
//   GET on a tree path      the same, for paths no endpoint claims (an endpoint wins over a resource of
//                           the same path: GET /gox-loadouts/v2/items/7/A calls the module)
// Anything else is 404 (405 when an endpoint has the path but not the method), in the failure shape.
// The HTTP layer's limits (http_server.h) bound slow clients, floods and bodies, in the same shape.
// A call waits for the plugin thread without holding an I/O thread; the admin API, whose changes wait
// for the module to see them, runs on a worker thread of its own. The endpoints, the API document and
// the module list follow the module reloads (PluginThread::Reload); a call that arrives during one
// waits for it, at most FrontDoorOptions::reloadWait, and is then answered 503 without being made.

#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "tools/common/http_server.h"
#include "tools/gox_host/admin_api.h"
#include "tools/gox_host/event_hub.h"
#include "tools/gox_host/host_log.h"
#include "tools/gox_host/plugin_thread.h"

namespace GoxHostApp {

struct FrontDoorOptions {
  std::string host = "127.0.0.1";
  int port = 0;                                  // 0: an ephemeral port
  GoxTools::HttpLimits http;                     // deadlines, sizes and connection caps
  std::chrono::milliseconds callTimeout{60000};  // how long a request waits for the plugin thread
  // How long a request that arrives during a module reload waits for it to end (then 503).
  std::chrono::milliseconds reloadWait{5000};
  int ioThreads = 2;
  std::chrono::milliseconds eventKeepAlive{15000};
  bool accessLog = false;
  std::string consoleFolder;  // the developer console's files (console_files.h); empty: no console
};

class FrontDoor {
 public:
  // `admin` may be null (no admin API). Everything given must outlive the front door.
  FrontDoor(FrontDoorOptions options, PluginThread& plugin, EventHub& events, AdminApi* admin, HostLog& log);
  FrontDoor(const FrontDoor&) = delete;
  FrontDoor& operator=(const FrontDoor&) = delete;
  ~FrontDoor();

  // Binds the listening socket; the reason when it could not.
  [[nodiscard]] std::optional<std::string> Bind();
  [[nodiscard]] int Port() const;
  [[nodiscard]] std::size_t OpenConnections() const;
  // Serves until Stop (on I/O threads of its own); returns once Stop is called.
  void Serve();
  // Stops accepting connections, ends the event streams and returns once the requests in flight are
  // answered. Any thread but the server's own; more than once is fine.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace GoxHostApp
