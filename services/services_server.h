// ServicesServer: the loadouts and inventory services behind one HTTP server (the event-driven server
// gox-host shares), with the same limits and failure answers.
//
// Service paths (see LoadoutsService and InventoryService) require "Authorization: Bearer <token>" and
// answer 401 without it. The admin API answers loopback clients only (403 otherwise):
//   GET|PUT|DELETE /admin/fault        the fault in place, set one (FaultSwitch's JSON), clear it
//   GET /admin/game-customization      what setGameCustomization was given
// Failures of every kind have the body {"httpStatus": N, "message": "..."}.
//
// Start() opens the database (a temporary one, removed on destruction, when no path is given), reads
// the fixtures and starts serving on a thread of its own; Stop() ends it.

#pragma once

#include <memory>
#include <optional>
#include <string>

#include "services/fault_switch.h"
#include "services/service_options.h"
#include "tools/common/http_server.h"

namespace GoxServices {

class LoadoutStore;
class InventoryFixtures;
class LoadoutsService;
class InventoryService;

inline constexpr const char* kMissingBearer = "an Authorization: Bearer token is required";
inline constexpr const char* kNotLoopback = "the admin API answers loopback clients only";

class ServicesServer {
 public:
  ServicesServer(ServicesOptions options, std::string secret);
  ServicesServer(const ServicesServer&) = delete;
  ServicesServer& operator=(const ServicesServer&) = delete;
  ~ServicesServer();

  // Why it could not start; nothing once it serves.
  [[nodiscard]] std::optional<std::string> Start();
  // Stops serving and waits for the serving thread; safe to call twice.
  void Stop();

  [[nodiscard]] int Port() const { return port_; }
  [[nodiscard]] std::size_t OpenConnections() const { return server_ ? server_->OpenConnections() : 0; }
  [[nodiscard]] const std::string& DatabasePath() const { return dbPath_; }
  [[nodiscard]] FaultSwitch& Faults() { return faults_; }

 private:
  void Handle(GoxTools::HttpRequest request, GoxTools::HttpReply reply);
  // The request past the admin check and the fault switch.
  void Serve(const GoxTools::HttpRequest& request, const GoxTools::HttpReply& reply);

  ServicesOptions options_;
  std::string secret_;
  std::string dbPath_;
  std::string temporaryDir_;  // made for a temporary database; removed with it
  std::unique_ptr<GoxTools::HttpServer> server_;
  std::unique_ptr<LoadoutStore> store_;
  std::unique_ptr<InventoryFixtures> fixtures_;
  std::unique_ptr<LoadoutsService> loadouts_;
  std::unique_ptr<InventoryService> inventory_;
  FaultSwitch faults_;
  int port_ = 0;
};

}  // namespace GoxServices
