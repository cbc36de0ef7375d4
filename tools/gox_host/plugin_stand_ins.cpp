#include "tools/gox_host/plugin_stand_ins.h"

#include <chrono>
#include <utility>
#include <variant>

#include "tools/common/token_signing.h"
#include "tools/gox_host/call_mapping.h"

namespace GoxHostApp {
namespace {

// The world gox-host starts with: a logged-in player in the lobby, loadouts switched on.
constexpr const char* kDefaultResources = R"({
  "/gox-login/v1/session": {"state": "SUCCEEDED", "summonerId": 2001, "accountId": 1001,
                            "idToken": "dev-id-token", "gasToken": {},
                            "puuid": "00000000-0000-4000-8000-000000000001"},
  "/bxo-auth/v1/authorization/access-token": {"token": "dev-access-token", "scopes": ["openid", "loadouts"],
                                              "expiry": 4102444800},
  "/quarnclient/region-locale": {"region": "LOCAL", "locale": "en_US"},
  "/data-store/v1/system-settings/region_data": {"LOCAL": {"servers": {"trovix_service_location": "local1"}}},
  "/gox-player-preferences/v1/player-preferences-ready": true,
  "/gox-platform-config/v1/namespaces/Loadouts": {"InventoryServiceUrl": "http://127.0.0.1:8091",
                                                  "LoadoutsServiceUrl": "http://127.0.0.1:8091",
                                                  "Enabled": true,
                                                  "ValidInventoryTypes": ["BANNER", "EMOTE", "COMPANION"]},
  "/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes": ["BANNER", "EMOTE", "COMPANION"],
  "/gox-gameflow/v1/session": {"phase": "Lobby", "gameData": {"queue": {"isTeamBuilderManaged": true}}}
})";

constexpr const char* kDefaultInventory = R"({"BANNER": [1, 2, 3], "EMOTE": [10, 11], "COMPANION": [100]})";

constexpr const char* kNotJson = "fixtures are not a JSON object";
constexpr const char* kUnknownMember = "fixtures have an unknown member \"%s\"";
constexpr const char* kBadResources = "fixtures \"resources\" must be an object whose keys start with '/'";
constexpr const char* kBadInventory = "fixtures \"inventory\" must map inventory types to arrays of item ids";
constexpr const char* kBadLifetime = "fixtures \"tokenLifetimeSeconds\" must be a positive integer";

constexpr const char* kUnknownService = "unknown service %s method %s";
constexpr const char* kBadPayload =
    "payload must be a JSON object with the strings \"prefix\" and \"signedJWT\"";
constexpr const char* kRejected = "signedJWT rejected: %s";

using Allocator = rapidjson::MemoryPoolAllocator<>;

rapidjson::Value Text(std::string_view text, Allocator& allocator) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

std::optional<std::map<std::string, std::vector<std::int64_t>>> ReadInventory(const rapidjson::Value& value) {
  if (!value.IsObject()) return std::nullopt;
  std::map<std::string, std::vector<std::int64_t>> inventory;
  for (const auto& member : value.GetObject()) {
    if (!member.value.IsArray()) return std::nullopt;
    std::vector<std::int64_t>& items = inventory[member.name.GetString()];
    for (const auto& item : member.value.GetArray()) {
      if (!item.IsInt64()) return std::nullopt;
      items.push_back(item.GetInt64());
    }
  }
  return inventory;
}

}  // namespace

PluginStandIns::PluginStandIns(std::string secret, std::function<std::int64_t()> now)
    : secret_(std::move(secret)), now_(std::move(now)) {
  if (!now_) {
    now_ = [] {
      return std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
  }
  const GoxHost::JsonValue defaults = GoxHost::JsonValue::Parse(kDefaultResources).value();
  for (const auto& member : defaults.Get().GetObject())
    resources_[member.name.GetString()] = GoxHost::JsonValue(member.value);
  inventory_ = ReadInventory(GoxHost::JsonValue::Parse(kDefaultInventory).value().Get()).value();
}

std::optional<std::string> PluginStandIns::ApplyFixtures(std::string_view text) {
  const std::optional<GoxHost::JsonValue> parsed = GoxHost::JsonValue::Parse(text);
  if (!parsed || !parsed->Get().IsObject()) return std::string(kNotJson);
  const rapidjson::Value& fixtures = parsed->Get();
  for (const auto& member : fixtures.GetObject()) {
    const std::string_view name = member.name.GetString();
    if (name != "resources" && name != "inventory" && name != "tokenLifetimeSeconds")
      return FormatText(kUnknownMember, std::string(name).c_str());
  }
  std::map<std::string, GoxHost::JsonValue> resources = resources_;
  if (fixtures.HasMember("resources")) {
    const rapidjson::Value& given = fixtures["resources"];
    if (!given.IsObject()) return std::string(kBadResources);
    for (const auto& member : given.GetObject()) {
      const std::string path = member.name.GetString();
      if (!path.starts_with('/')) return std::string(kBadResources);
      if (member.value.IsNull()) {
        resources.erase(path);
      } else {
        resources[path] = GoxHost::JsonValue(member.value);
      }
    }
  }
  std::map<std::string, std::vector<std::int64_t>> inventory = inventory_;
  if (fixtures.HasMember("inventory")) {
    auto read = ReadInventory(fixtures["inventory"]);
    if (!read) return std::string(kBadInventory);
    inventory = std::move(*read);
  }
  std::int64_t lifetime = tokenLifetime_;
  if (fixtures.HasMember("tokenLifetimeSeconds")) {
    const rapidjson::Value& given = fixtures["tokenLifetimeSeconds"];
    if (!given.IsInt64() || given.GetInt64() <= 0) return std::string(kBadLifetime);
    lifetime = given.GetInt64();
  }
  resources_ = std::move(resources);
  inventory_ = std::move(inventory);
  tokenLifetime_ = lifetime;
  return std::nullopt;
}

void PluginStandIns::SetServicesUrl(const std::string& url) {
  GoxHost::JsonValue& config = resources_[kLoadoutsNamespacePath];
  GoxHost::JsonDocument& document = config.Edit();
  if (!document.IsObject()) document.SetObject();
  auto& allocator = document.GetAllocator();
  for (const char* name : {"InventoryServiceUrl", "LoadoutsServiceUrl"}) {
    document.RemoveMember(name);
    document.AddMember(rapidjson::StringRef(name), Text(url, allocator), allocator);
  }
}

void PluginStandIns::Install(GoxHost::HostCore& host) {
  for (const auto& [path, value] : resources_)
    host.SetResource(path, value);
  host.SetResource(kInventoryFixturePath, InventoryFixture());
  host.SetService([this](const GoxHost::ServiceCall& call) { return Service(call); });
}

GoxHost::JsonValue PluginStandIns::InventoryFixture() const {
  GoxHost::JsonValue fixture;
  GoxHost::JsonDocument& document = fixture.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  rapidjson::Value items(rapidjson::kObjectType);
  for (const auto& [type, owned] : inventory_) {
    rapidjson::Value ids(rapidjson::kArrayType);
    for (const std::int64_t id : owned)
      ids.PushBack(id, allocator);
    items.AddMember(Text(type, allocator), ids, allocator);
  }
  document.AddMember("items", items, allocator);
  document.AddMember("tokenLifetimeSeconds", tokenLifetime_, allocator);
  return fixture;
}

GoxHost::ServiceAnswer PluginStandIns::Service(const GoxHost::ServiceCall& call) {
  GameCustomizationCall record;
  record.service = call.service;
  record.method = call.method;
  record.payload = call.payload;
  GoxHost::ServiceAnswer answer;
  answer.delayYields = 1;  // answered while the module awaits, as a remote service would be
  if (call.service != kTeamBuilderService || call.method != kGameCustomizationMethod) {
    record.error = FormatText(kUnknownService, call.service.c_str(), call.method.c_str());
    answer.status = "404";
  } else {
    const std::optional<GoxHost::JsonValue> payload = GoxHost::JsonValue::Parse(call.payload);
    const bool shaped = payload && payload->Get().IsObject() && payload->Get().HasMember("prefix") &&
                        payload->Get()["prefix"].IsString() && payload->Get().HasMember("signedJWT") &&
                        payload->Get()["signedJWT"].IsString();
    if (!shaped) {
      record.error = kBadPayload;
      answer.status = "400";
    } else {
      auto verified = GoxTools::VerifyToken(payload->Get()["signedJWT"].GetString(), secret_, now_());
      if (auto* error = std::get_if<GoxTools::TokenError>(&verified)) {
        record.error = FormatText(kRejected, error->message.c_str());
        answer.status = "403";
      } else {
        record.accepted = true;
        record.claims = std::move(std::get<GoxHost::JsonValue>(verified));
      }
    }
  }
  answer.error = record.error;
  answer.payload = record.accepted ? "{}" : "";
  calls_.push_back(std::move(record));
  if (calls_.size() > kMaxRecordedCalls) calls_.pop_front();
  return answer;
}

GoxHost::JsonValue PluginStandIns::GameCustomizationJson() const {
  GoxHost::JsonValue result;
  GoxHost::JsonDocument& document = result.Edit();
  auto& allocator = document.GetAllocator();
  document.SetArray();
  for (const GameCustomizationCall& call : calls_) {
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("service", Text(call.service, allocator), allocator);
    entry.AddMember("method", Text(call.method, allocator), allocator);
    entry.AddMember("payload", Text(call.payload, allocator), allocator);
    entry.AddMember("accepted", call.accepted, allocator);
    entry.AddMember("error", Text(call.error, allocator), allocator);
    rapidjson::Value claims;
    GoxHost::CopyJson(call.claims.Get(), claims, allocator);
    entry.AddMember("claims", claims, allocator);
    document.PushBack(entry, allocator);
  }
  return result;
}

}  // namespace GoxHostApp
