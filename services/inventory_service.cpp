#include "services/inventory_service.h"

#include <ctime>

#include "tools/common/token_signing.h"

namespace GoxServices {
namespace {

constexpr const char* kNoPuuid = "the query needs a puuid";
constexpr const char* kBadSigned = "the query's signed must be true or false";
constexpr const char* kUnknownPlayer = "no inventory for puuid %s";
constexpr const char* kPurchaseDate = "2026-01-01T00:00:00.000Z";

using Allocator = rapidjson::MemoryPoolAllocator<>;

std::string IsoTime(std::int64_t seconds) {
  const std::time_t time = seconds;
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
  return text;
}

rapidjson::Value Item(std::int64_t id, const std::string& type, Allocator& allocator) {
  rapidjson::Value item(rapidjson::kObjectType);
  item.AddMember("itemId", id, allocator);
  item.AddMember("inventoryType", JsonString(type, allocator), allocator);
  item.AddMember("expirationDate", "", allocator);
  item.AddMember("purchaseDate", rapidjson::StringRef(kPurchaseDate), allocator);
  item.AddMember("quantity", 1, allocator);
  item.AddMember("usedInGameDate", "", allocator);
  item.AddMember("entitlementId", JsonString(type + "-" + std::to_string(id), allocator), allocator);
  item.AddMember("eneitlementTypeId", "", allocator);
  item.AddMember("instanceId", "", allocator);
  item.AddMember("instanceTypeId", "", allocator);
  item.AddMember("f2p", false, allocator);
  item.AddMember("rental", false, allocator);
  item.AddMember("lsb", false, allocator);
  item.AddMember("wins", 0, allocator);
  return item;
}

}  // namespace

InventoryService::InventoryService(const InventoryFixtures& fixtures, std::string secret,
                                   std::function<std::int64_t()> now)
    : fixtures_(fixtures), secret_(std::move(secret)), now_(std::move(now)) {
  if (!now_) now_ = SecondsNow;
}

ServiceAnswer InventoryService::Inventories(const std::string& puuid, const std::vector<std::string>& types,
                                            const std::string& signedFlag) const {
  if (puuid.empty()) return FailureAnswer(400, kNoPuuid);
  if (signedFlag != "true" && signedFlag != "false") return FailureAnswer(400, kBadSigned);
  const Inventory* inventory = fixtures_.Find(puuid);
  if (inventory == nullptr) return FailureAnswer(404, Format(kUnknownPlayer, puuid.c_str()));

  std::map<std::string, const std::vector<std::int64_t>*> chosen;
  static const std::vector<std::int64_t> kNothing;
  if (types.empty()) {
    for (const auto& [type, ids] : inventory->items)
      chosen[type] = &ids;
  } else {
    for (const std::string& type : types) {
      const auto owned = inventory->items.find(type);
      chosen[type] = owned == inventory->items.end() ? &kNothing : &owned->second;
    }
  }
  const std::int64_t now = now_();
  GoxHost::JsonValue answer;
  GoxHost::JsonDocument& document = answer.Edit();
  auto& allocator = document.GetAllocator();
  rapidjson::Value data(rapidjson::kObjectType);
  data.AddMember("puuid", JsonString(puuid, allocator), allocator);
  data.AddMember("accountId", inventory->accountId, allocator);
  data.AddMember("summonerId", inventory->summonerId, allocator);
  rapidjson::Value items(rapidjson::kObjectType);
  for (const auto& [type, ids] : chosen) {
    rapidjson::Value list(rapidjson::kArrayType);
    for (const std::int64_t id : *ids)
      list.PushBack(Item(id, type, allocator), allocator);
    items.AddMember(JsonString(type, allocator), list, allocator);
  }
  data.AddMember("items", items, allocator);
  data.AddMember("expires", JsonString(IsoTime(now + fixtures_.TokenLifetimeSeconds()), allocator),
                 allocator);
  if (signedFlag == "true") {
    GoxHost::JsonValue claims;
    GoxHost::JsonDocument& body = claims.Edit();
    auto& claimAllocator = body.GetAllocator();
    body.SetObject();
    body.AddMember("puuid", JsonString(puuid, claimAllocator), claimAllocator);
    rapidjson::Value owned(rapidjson::kObjectType);
    for (const auto& [type, ids] : chosen) {
      rapidjson::Value list(rapidjson::kArrayType);
      for (const std::int64_t id : *ids)
        list.PushBack(id, claimAllocator);
      owned.AddMember(JsonString(type, claimAllocator), list, claimAllocator);
    }
    body.AddMember("items", owned, claimAllocator);
    body.AddMember("iat", now, claimAllocator);
    body.AddMember("exp", now + fixtures_.TokenLifetimeSeconds(), claimAllocator);
    data.AddMember("itemsJwt", JsonString(GoxTools::SignToken(claims, secret_), allocator), allocator);
  }
  document.SetObject();
  document.AddMember("data", data, allocator);
  return {200, answer.Text()};
}

}  // namespace GoxServices
