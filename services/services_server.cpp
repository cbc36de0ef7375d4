#include "services/services_server.h"

#include <httplib.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "services/inventory_fixtures.h"
#include "services/inventory_service.h"
#include "services/loadout_store.h"
#include "services/loadouts_service.h"
#include "tools/common/listen_address.h"

namespace GoxServices {
namespace {

constexpr const char* kJson = "application/json";
constexpr const char* kAdminPrefix = "/admin/";
constexpr std::size_t kBodyLimit = 1 << 20;
// What a closing fault announces and never sends.
constexpr std::size_t kClosedBodyLength = 64;

constexpr const char* kNoSuchPath = "no service at %s %s";
constexpr const char* kHttpError = "HTTP error %d";
constexpr const char* kHandlerThrew = "the handler failed";
constexpr const char* kNoFixtures = "could not read the fixtures file %s";
constexpr const char* kBadFixtures = "fixtures file %s: %s";
constexpr const char* kNoTemporaryDir = "could not make a temporary folder for the database";
constexpr const char* kCannotListen = "could not listen on %s:%d";

bool HasBearer(const httplib::Request& request) {
  const std::string value = request.get_header_value("Authorization");
  return value.size() > 7 && value.starts_with("Bearer ");
}

void Send(const ServiceAnswer& answer, httplib::Response& response) {
  response.status = answer.status;
  if (!answer.body.empty()) response.set_content(answer.body, kJson);
}

std::string Param(const httplib::Request& request, const char* name) {
  return request.get_param_value(name);
}

}  // namespace

ServicesServer::ServicesServer(ServicesOptions options, std::string secret)
    : options_(std::move(options)),
      secret_(std::move(secret)),
      server_(std::make_unique<httplib::Server>()) {}

ServicesServer::~ServicesServer() {
  Stop();
  loadouts_.reset();
  store_.reset();
  if (!temporaryDir_.empty()) {
    for (const char* suffix : {"", "-wal", "-shm"})
      std::remove((dbPath_ + suffix).c_str());
    rmdir(temporaryDir_.c_str());
  }
}

std::optional<std::string> ServicesServer::Start() {
  fixtures_ = std::make_unique<InventoryFixtures>();
  if (!options_.fixturesPath.empty()) {
    std::ifstream file(options_.fixturesPath);
    if (!file) return Format(kNoFixtures, options_.fixturesPath.c_str());
    std::stringstream text;
    text << file.rdbuf();
    if (auto error = fixtures_->Apply(text.str()))
      return Format(kBadFixtures, options_.fixturesPath.c_str(), error->c_str());
  }
  dbPath_ = options_.dbPath;
  if (dbPath_.empty()) {
    std::string pattern = "/tmp/gox-services-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return std::string(kNoTemporaryDir);
    temporaryDir_ = pattern;
    dbPath_ = temporaryDir_ + "/loadouts.db";
  }
  auto opened = LoadoutStore::Open(dbPath_);
  if (auto* error = std::get_if<std::string>(&opened)) return *error;
  store_ = std::move(std::get<0>(opened));
  loadouts_ = std::make_unique<LoadoutsService>(*store_, secret_);
  inventory_ = std::make_unique<InventoryService>(*fixtures_, secret_);
  Route();
  port_ = options_.port == 0 ? server_->bind_to_any_port(options_.host)
                             : (server_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  if (port_ <= 0) return Format(kCannotListen, options_.host.c_str(), options_.port);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return std::nullopt;
}

void ServicesServer::Stop() {
  stopping_ = true;
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

void ServicesServer::Route() {
  httplib::Server& server = *server_;
  const int threads = options_.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(kBodyLimit);
  // An idle kept-alive connection holds a thread, and Stop() waits for it: keep the wait short.
  server.set_keep_alive_timeout(1);
  server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    const std::string message = response.status == 404
                                    ? Format(kNoSuchPath, request.method.c_str(), request.path.c_str())
                                    : Format(kHttpError, response.status);
    response.set_content(FailureJson(response.status, message), kJson);
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Send(FailureAnswer(500, kHandlerThrew), response);
  });

  // Before any route: the admin API's loopback check, then the fault switch and the bearer check of
  // the services.
  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    using Status = httplib::Server::HandlerResponse;
    if (request.path.starts_with(kAdminPrefix)) {
      if (GoxTools::IsLoopbackAddress(request.remote_addr)) return Status::Unhandled;
      Send(FailureAnswer(403, kNotLoopback), response);
      return Status::Handled;
    }
    if (std::optional<Fault> fault = faults_.Take(request.path)) {
      switch (fault->mode) {
        case FaultMode::kSlow: {
          const auto until = std::chrono::steady_clock::now() + fault->delay;
          while (!stopping_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          break;
        }
        case FaultMode::kError:
          response.status = fault->status;
          response.set_content(fault->body, kJson);
          return Status::Handled;
        case FaultMode::kMalformed:
          response.set_content(kMalformedBody, kJson);
          return Status::Handled;
        case FaultMode::kClose:
          // The headers go out with a length; the provider then fails, and the connection closes.
          response.set_content_provider(kClosedBodyLength, kJson,
                                        [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
          return Status::Handled;
      }
    }
    if (HasBearer(request)) return Status::Unhandled;
    response.set_header("WWW-Authenticate", "Bearer");
    Send(FailureAnswer(401, kMissingBearer), response);
    return Status::Handled;
  });

  server.Post("/loadouts/v3/items/get", [this](const httplib::Request& request, httplib::Response& response) {
    Send(loadouts_->GetItems(Param(request, "puuid"), request.body), response);
  });
  server.Post("/loadouts/v3/items", [this](const httplib::Request& request, httplib::Response& response) {
    Send(loadouts_->SetItems(Param(request, "puuid"), request.body), response);
  });
  server.Delete(R"(/loadouts/v3/items/([^/]+))", [this](const httplib::Request& request,
                                                        httplib::Response& response) {
    Send(loadouts_->DeleteItems(Param(request, "puuid"), request.matches[1], Param(request, "inventoryType")),
         response);
  });
  server.Post("/loadouts/v3/signedItems/get",
              [this](const httplib::Request& request, httplib::Response& response) {
                Send(loadouts_->SignedItems(Param(request, "puuid"), request.body), response);
              });
  server.Post(R"(/loadouts/v3/setGameCustomization/?)",
              [this](const httplib::Request& request, httplib::Response& response) {
                Send(loadouts_->SetGameCustomization(Param(request, "location"), Param(request, "puuid"),
                                                     Param(request, "accountId"), request.body),
                     response);
              });
  server.Get("/goxinventoryservice/v2/inventories", [this](const httplib::Request& request,
                                                           httplib::Response& response) {
    std::vector<std::string> types;
    const auto [first, last] = request.params.equal_range("inventoryTypes");
    for (auto it = first; it != last; ++it)
      types.push_back(it->second);
    Send(inventory_->Inventories(Param(request, "puuid"), types, Param(request, "signed")), response);
  });

  server.Get("/admin/fault", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(faults_.Json(), kJson);
  });
  server.Put("/admin/fault", [this](const httplib::Request& request, httplib::Response& response) {
    auto fault = FaultSwitch::Parse(request.body);
    if (auto* error = std::get_if<std::string>(&fault)) return Send(FailureAnswer(400, *error), response);
    faults_.Set(std::move(std::get<Fault>(fault)));
    response.set_content(faults_.Json(), kJson);
  });
  server.Delete("/admin/fault", [this](const httplib::Request&, httplib::Response& response) {
    faults_.Clear();
    response.status = 204;
  });
  server.Get("/admin/game-customization", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(loadouts_->GameCustomizationJson(), kJson);
  });
}

}  // namespace GoxServices
