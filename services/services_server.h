// ServicesServer: the loadouts and inventory services behind one cpp-httplib server.
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

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "services/fault_switch.h"
#include "services/service_options.h"

namespace httplib {
class Server;
}

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
  [[nodiscard]] const std::string& DatabasePath() const { return dbPath_; }
  [[nodiscard]] FaultSwitch& Faults() { return faults_; }

 private:
  void Route();

  ServicesOptions options_;
  std::string secret_;
  std::string dbPath_;
  std::string temporaryDir_;  // made for a temporary database; removed with it
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<LoadoutStore> store_;
  std::unique_ptr<InventoryFixtures> fixtures_;
  std::unique_ptr<LoadoutsService> loadouts_;
  std::unique_ptr<InventoryService> inventory_;
  FaultSwitch faults_;
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace GoxServices
