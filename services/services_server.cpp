#include "services/services_server.h"

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
constexpr const char* kItemsPrefix = "/loadouts/v3/items/";
// What a closing fault announces and never sends.
constexpr std::size_t kClosedBodyLength = 64;

constexpr const char* kNoSuchPath = "no service at %s %s";
constexpr const char* kNoFixtures = "could not read the fixtures file %s";
constexpr const char* kBadFixtures = "fixtures file %s: %s";
constexpr const char* kNoTemporaryDir = "could not make a temporary folder for the database";

bool HasBearer(const GoxTools::HttpRequest& request) {
  const std::string value = request.Header("Authorization");
  return value.size() > 7 && value.starts_with("Bearer ");
}

GoxTools::HttpResponse ToResponse(const ServiceAnswer& answer) {
  return {answer.status, answer.body.empty() ? "" : kJson, answer.body, {}, false};
}

}  // namespace

ServicesServer::ServicesServer(ServicesOptions options, std::string secret)
    : options_(std::move(options)), secret_(std::move(secret)) {}

ServicesServer::~ServicesServer() {
  Stop();
  server_.reset();
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
  server_ = std::make_unique<GoxTools::HttpServer>(
      GoxTools::HttpServerOptions{options_.host, options_.port, options_.threads, options_.http},
      [this](GoxTools::HttpRequest request, GoxTools::HttpReply reply) {
        Handle(std::move(request), std::move(reply));
      });
  if (auto error = server_->Bind()) return error;
  port_ = server_->Port();
  server_->Start();
  return std::nullopt;
}

void ServicesServer::Stop() {
  if (server_) server_->Stop();
}

// Before any route: the admin API's loopback check, then the fault switch; the bearer check of the
// services follows in Serve.
void ServicesServer::Handle(GoxTools::HttpRequest request, GoxTools::HttpReply reply) {
  if (request.path.starts_with(kAdminPrefix)) {
    if (!GoxTools::IsLoopbackAddress(request.remoteAddress))
      return reply.Send(ToResponse(FailureAnswer(403, kNotLoopback)));
    return Serve(request, reply);
  }
  if (std::optional<Fault> fault = faults_.Take(request.path)) {
    switch (fault->mode) {
      case FaultMode::kSlow: {
        // Late on a timer, never by holding an I/O thread.
        auto held = std::make_shared<GoxTools::HttpRequest>(std::move(request));
        return reply.After(fault->delay, [this, held, reply] { Serve(*held, reply); });
      }
      case FaultMode::kError:
        return reply.Send({fault->status, kJson, fault->body, {}, false});
      case FaultMode::kMalformed:
        return reply.Send({200, kJson, kMalformedBody, {}, false});
      case FaultMode::kClose:
        return reply.Send({200, kJson, std::string(kClosedBodyLength, ' '), {}, true});
    }
  }
  Serve(request, reply);
}

void ServicesServer::Serve(const GoxTools::HttpRequest& request, const GoxTools::HttpReply& reply) {
  const std::string& path = request.path;
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  const auto send = [&reply](const ServiceAnswer& answer) { reply.Send(ToResponse(answer)); };
  if (path == "/admin/fault") {
    if (method == "GET") return reply.Send({200, kJson, faults_.Json(), {}, false});
    if (method == "PUT") {
      auto fault = FaultSwitch::Parse(request.body);
      if (auto* error = std::get_if<std::string>(&fault)) return send(FailureAnswer(400, *error));
      faults_.Set(std::move(std::get<Fault>(fault)));
      return reply.Send({200, kJson, faults_.Json(), {}, false});
    }
    if (method == "DELETE") {
      faults_.Clear();
      return reply.Send({204, "", "", {}, false});
    }
  }
  if (path == "/admin/game-customization" && method == "GET")
    return reply.Send({200, kJson, loadouts_->GameCustomizationJson(), {}, false});
  if (!path.starts_with(kAdminPrefix) && !HasBearer(request)) {
    GoxTools::HttpResponse refusal = ToResponse(FailureAnswer(401, kMissingBearer));
    refusal.headers.emplace_back("WWW-Authenticate", "Bearer");
    return reply.Send(std::move(refusal));
  }
  const auto parameters = GoxTools::ParseQuery(request.query);
  const auto param = [&parameters](const char* name) { return GoxTools::QueryValue(parameters, name); };
  if (method == "POST" && path == "/loadouts/v3/items/get")
    return send(loadouts_->GetItems(param("puuid"), request.body));
  if (method == "POST" && path == "/loadouts/v3/items")
    return send(loadouts_->SetItems(param("puuid"), request.body));
  if (method == "DELETE" && path.starts_with(kItemsPrefix) &&
      path.size() > std::string_view(kItemsPrefix).size() &&
      path.find('/', std::string_view(kItemsPrefix).size()) == std::string::npos)
    return send(loadouts_->DeleteItems(param("puuid"), path.substr(std::string_view(kItemsPrefix).size()),
                                       param("inventoryType")));
  if (method == "POST" && path == "/loadouts/v3/signedItems/get")
    return send(loadouts_->SignedItems(param("puuid"), request.body));
  if (method == "POST" &&
      (path == "/loadouts/v3/setGameCustomization" || path == "/loadouts/v3/setGameCustomization/"))
    return send(
        loadouts_->SetGameCustomization(param("location"), param("puuid"), param("accountId"), request.body));
  if (method == "GET" && path == "/goxinventoryservice/v2/inventories") {
    std::vector<std::string> types;
    for (const auto& [name, value] : parameters)
      if (name == "inventoryTypes") types.push_back(value);
    return send(inventory_->Inventories(param("puuid"), types, param("signed")));
  }
  send(FailureAnswer(404, Format(kNoSuchPath, request.method.c_str(), path.c_str())));
}

}  // namespace GoxServices
