#include "services/inventory_fixtures.h"

#include "host/json_value.h"
#include "services/service_text.h"

namespace GoxServices {
namespace {

constexpr const char* kDefaultInventories = R"({
  "00000000-0000-4000-8000-000000000001": {
    "accountId": 1001, "summonerId": 2001,
    "items": {"BANNER": [1, 2, 3], "EMOTE": [10, 11], "COMPANION": [100]}
  }
})";

constexpr const char* kNotJson = "fixtures are not a JSON object";
constexpr const char* kUnknownMember = "fixtures have an unknown member \"";
constexpr const char* kBadInventories =
    "fixtures \"inventories\" must map each puuid to {\"accountId\", \"summonerId\", \"items\"} with "
    "unsigned ids and item ids in arrays by inventory type";
constexpr const char* kBadLifetime = "fixtures \"tokenLifetimeSeconds\" must be a positive integer";

std::optional<std::uint64_t> OptionalId(const rapidjson::Value& object, const char* name) {
  if (!object.HasMember(name)) return 0;
  if (!object[name].IsUint64()) return std::nullopt;
  return object[name].GetUint64();
}

std::optional<std::map<std::string, Inventory>> ReadInventories(const rapidjson::Value& value) {
  if (!value.IsObject()) return std::nullopt;
  std::map<std::string, Inventory> inventories;
  for (const auto& player : value.GetObject()) {
    if (!player.value.IsObject()) return std::nullopt;
    Inventory& inventory = inventories[player.name.GetString()];
    const auto accountId = OptionalId(player.value, "accountId");
    const auto summonerId = OptionalId(player.value, "summonerId");
    if (!accountId || !summonerId) return std::nullopt;
    inventory.accountId = *accountId;
    inventory.summonerId = *summonerId;
    if (!player.value.HasMember("items")) continue;
    const rapidjson::Value& items = player.value["items"];
    if (!items.IsObject()) return std::nullopt;
    for (const auto& type : items.GetObject()) {
      if (!type.value.IsArray()) return std::nullopt;
      std::vector<std::int64_t>& ids = inventory.items[type.name.GetString()];
      for (const auto& id : type.value.GetArray()) {
        if (!id.IsInt64()) return std::nullopt;
        ids.push_back(id.GetInt64());
      }
    }
  }
  return inventories;
}

}  // namespace

InventoryFixtures::InventoryFixtures() {
  inventories_ = ReadInventories(GoxHost::JsonValue::Parse(kDefaultInventories).value().Get()).value();
}

std::optional<std::string> InventoryFixtures::Apply(std::string_view text) {
  const std::optional<GoxHost::JsonValue> parsed = ParseRequestJson(text);
  if (!parsed || !parsed->Get().IsObject()) return std::string(kNotJson);
  const rapidjson::Value& fixtures = parsed->Get();
  for (const auto& member : fixtures.GetObject()) {
    const std::string_view name = member.name.GetString();
    if (name != "inventories" && name != "tokenLifetimeSeconds")
      return kUnknownMember + std::string(name) + "\"";
  }
  std::map<std::string, Inventory> inventories = inventories_;
  if (fixtures.HasMember("inventories")) {
    auto read = ReadInventories(fixtures["inventories"]);
    if (!read) return std::string(kBadInventories);
    inventories = std::move(*read);
  }
  std::int64_t lifetime = tokenLifetime_;
  if (fixtures.HasMember("tokenLifetimeSeconds")) {
    const rapidjson::Value& given = fixtures["tokenLifetimeSeconds"];
    if (!given.IsInt64() || given.GetInt64() <= 0) return std::string(kBadLifetime);
    lifetime = given.GetInt64();
  }
  inventories_ = std::move(inventories);
  tokenLifetime_ = lifetime;
  return std::nullopt;
}

const Inventory* InventoryFixtures::Find(const std::string& puuid) const {
  const auto found = inventories_.find(puuid);
  return found == inventories_.end() ? nullptr : &found->second;
}

}  // namespace GoxServices
