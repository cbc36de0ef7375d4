// AdminApi: changes the stand-ins while gox-host runs, so that a person can enter champion select or
// log out and watch the module react.
//
//   PUT    /admin/resources/{path}   JSON body: stores it at /{path} and fires Create (new) or Update
//   DELETE /admin/resources/{path}   removes /{path} and fires Delete; 404 when there is nothing
//   GET    /admin/resources/{path}   the stored value; 404 when there is nothing
//   GET    /admin/game-customization what the service-proxy stand-in received, oldest first
//   GET    /admin/log                the host log's last lines, oldest first: {"lines": [...]}
//   GET    /admin/modules            the loaded modules: [{"name", "version", "serving", "file",
//                                     "loads", "loadedAt"}] (loads counts reloads and the first load)
//   POST   /admin/modules/{name}/reload  reloads the module from its file (ReloadModuleAndReport)
//
// Only loopback clients are served (403 otherwise). A change is answered once its event has reached the
// module, so a request that follows it sees the module's new state; the answer is
// {"uri": path, "eventType": "Create" | "Update" | "Delete"}.

#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "tools/gox_host/call_mapping.h"
#include "tools/gox_host/host_log.h"
#include "tools/gox_host/plugin_stand_ins.h"
#include "tools/gox_host/plugin_thread.h"

namespace GoxHostApp {

inline constexpr const char* kAdminPrefix = "/admin/";

// An HTTP request as the admin API reads it.
struct AdminRequest {
  std::string method;  // upper case
  std::string path;    // percent-decoded, without query
  std::string body;
  std::string remoteAddr;  // the client's address
};

// Runs `task` on the plugin thread, waiting at most `timeout`, and answers what it left in `answer`;
// 504 when the wait ended first, 503 when the thread is stopping. The task fills `answer`, which it
// shares, since a task that starts late may outlive the wait.
[[nodiscard]] HttpAnswer AnswerOnPluginThread(PluginThread& plugin, std::chrono::milliseconds timeout,
                                              PluginThread::Task task,
                                              const std::shared_ptr<HttpAnswer>& answer);

// Reloads the module `name` from its file on the plugin thread, waiting at most `timeout`, writes the
// outcome to `log` (when given; `cause` says who asked) and answers it as
// {"name", "outcome", "reloaded", "serving", "message", "loads"}: 200 when the new module serves; 422
// when the new file was refused (missing, not a library, no entry, handshake refused, another
// module's name, a route of another module) and the old module serves on; 500 when the new module's
// Initialize failed (the old code was started again, or the module is left out: "serving" says);
// 404 for a module not loaded. Failures also carry "httpStatus", as every failure of gox-host does.
[[nodiscard]] HttpAnswer ReloadModuleAndReport(PluginThread& plugin, HostLog* log, const std::string& name,
                                               std::chrono::milliseconds timeout, std::string_view cause);

class AdminApi {
 public:
  // `standIns` is touched on the plugin thread only; without a `log`, /admin/log has no lines.
  AdminApi(PluginThread& plugin, PluginStandIns& standIns, std::chrono::milliseconds timeout,
           HostLog* log = nullptr)
      : plugin_(plugin), standIns_(standIns), timeout_(timeout), log_(log) {}

  // The answer to a request whose path starts with kAdminPrefix.
  [[nodiscard]] HttpAnswer Handle(const AdminRequest& request);

 private:
  HttpAnswer Resource(const AdminRequest& request, const std::string& path);
  HttpAnswer LogTail();
  HttpAnswer Modules();
  HttpAnswer Reload(const AdminRequest& request);

  PluginThread& plugin_;
  PluginStandIns& standIns_;
  std::chrono::milliseconds timeout_;
  HostLog* log_;
};

}  // namespace GoxHostApp
