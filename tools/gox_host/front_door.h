// FrontDoor: gox-host's HTTP server (cpp-httplib), bound to 127.0.0.1 by default.
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
// Bodies over the limit get 413; malformed requests get 400 or 414 from the HTTP layer, also in the
// failure shape. Read, write and idle timeouts bound slow clients.

#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "tools/gox_host/admin_api.h"
#include "tools/gox_host/event_hub.h"
#include "tools/gox_host/host_log.h"
#include "tools/gox_host/plugin_thread.h"

namespace GoxHostApp {

struct FrontDoorOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: an ephemeral port
  std::size_t bodyLimit = 1u << 20;
  std::chrono::milliseconds readTimeout{5000};
  std::chrono::milliseconds writeTimeout{5000};
  int idleTimeoutSeconds = 5;                    // keep-alive connections without a request
  std::chrono::milliseconds callTimeout{60000};  // how long a request waits for the plugin thread
  int threads = 16;
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
  // Serves until Stop; returns once the requests in flight are answered and the event streams closed.
  void Serve();
  // Stops accepting connections and ends the event streams. Any thread; more than once is fine.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace GoxHostApp
