#include "services/loadouts_service.h"

#include <charconv>
#include <map>
#include <variant>
#include <vector>

#include "services/item_ownership.h"
#include "tools/common/token_signing.h"

namespace GoxServices {
namespace {

constexpr const char* kNoPuuid = "the query needs a puuid";
constexpr const char* kBadId = "the loadout id must be a uint32";
constexpr const char* kNoType = "the query needs an inventoryType";
constexpr const char* kBadAccountId = "the query needs an accountId (uint64)";

bool IsStringArray(const rapidjson::Value& object, const char* name) {
  if (!object.HasMember(name) || !object[name].IsArray()) return false;
  for (const auto& element : object[name].GetArray())
    if (!element.IsString()) return false;
  return true;
}

// The request body as JSON when it is an object with a uint32 "id", string arrays under `arrays` and an
// object under `object` (when given).
std::optional<GoxHost::JsonValue> ParseBody(std::string_view body, std::initializer_list<const char*> arrays,
                                            const char* object = nullptr) {
  std::optional<GoxHost::JsonValue> parsed = ParseRequestJson(body);
  if (!parsed) return std::nullopt;
  const rapidjson::Value& value = parsed->Get();
  if (!value.IsObject() || !value.HasMember("id") || !value["id"].IsUint()) return std::nullopt;
  for (const char* name : arrays)
    if (!IsStringArray(value, name)) return std::nullopt;
  if (object != nullptr && (!value.HasMember(object) || !value[object].IsObject())) return std::nullopt;
  return parsed;
}

template <class Number>
std::optional<Number> ParseWhole(const std::string& text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

struct LoadoutsService::ItemsRequest {
  std::uint32_t id = 0;
  std::vector<std::string> types;
  std::map<std::string, std::string> stored;  // JSON texts by type
};

LoadoutsService::LoadoutsService(LoadoutStore& store, std::string secret, std::function<std::int64_t()> now)
    : store_(store), secret_(std::move(secret)), now_(std::move(now)) {
  if (!now_) now_ = SecondsNow;
}

std::variant<LoadoutsService::ItemsRequest, ServiceAnswer> LoadoutsService::ReadStored(
    const std::string& puuid, std::string_view body) {
  if (puuid.empty()) return FailureAnswer(400, kNoPuuid);
  const std::optional<GoxHost::JsonValue> parsed = ParseBody(body, {"inventoryTypes", "inventoryJWTs"});
  if (!parsed) return FailureAnswer(400, kBadGetBody);
  const rapidjson::Value& request = parsed->Get();
  auto ownership = ItemOwnership::FromTokens(request["inventoryJWTs"], puuid, secret_, now_());
  if (const auto* refused = std::get_if<std::string>(&ownership)) return FailureAnswer(403, *refused);
  ItemsRequest read;
  read.id = request["id"].GetUint();
  for (const auto& type : request["inventoryTypes"].GetArray()) {
    read.types.emplace_back(type.GetString());
    if (!std::get<ItemOwnership>(ownership).Covers(read.types.back()))
      return FailureAnswer(403, Format(kNoTokenFor, read.types.back().c_str()));
  }
  auto stored = store_.Read(puuid, read.id, read.types);
  if (auto* error = std::get_if<std::string>(&stored)) return FailureAnswer(500, *error);
  read.stored = std::move(std::get<0>(stored));
  return read;
}

ServiceAnswer LoadoutsService::GetItems(const std::string& puuid, std::string_view body) {
  auto read = ReadStored(puuid, body);
  if (auto* failed = std::get_if<ServiceAnswer>(&read)) return std::move(*failed);
  std::string json = "{";
  for (const auto& [type, items] : std::get<ItemsRequest>(read).stored) {
    if (json.size() > 1) json += ",";
    json += GoxHost::JsonValue::String(type).Text() + ":" + items;
  }
  return {200, json + "}"};
}

ServiceAnswer LoadoutsService::SetItems(const std::string& puuid, std::string_view body) {
  if (puuid.empty()) return FailureAnswer(400, kNoPuuid);
  const std::optional<GoxHost::JsonValue> parsed = ParseBody(body, {"inventoryJWTs"}, "items");
  if (!parsed) return FailureAnswer(400, kBadSetBody);
  const rapidjson::Value& request = parsed->Get();
  auto ownership = ItemOwnership::FromTokens(request["inventoryJWTs"], puuid, secret_, now_());
  if (const auto* refused = std::get_if<std::string>(&ownership)) return FailureAnswer(403, *refused);
  std::map<std::string, std::string> items;
  for (const auto& member : request["items"].GetObject()) {
    const std::string type = member.name.GetString();
    if (auto refused = std::get<ItemOwnership>(ownership).Check(type, member.value))
      return FailureAnswer(403, *refused);
    items[type] = GoxHost::JsonText(member.value);
  }
  if (auto error = store_.Write(puuid, request["id"].GetUint(), items)) return FailureAnswer(500, *error);
  return {204, ""};
}

ServiceAnswer LoadoutsService::DeleteItems(const std::string& puuid, const std::string& id,
                                           const std::string& type) {
  if (puuid.empty()) return FailureAnswer(400, kNoPuuid);
  const std::optional<std::uint32_t> loadout = ParseWhole<std::uint32_t>(id);
  if (!loadout) return FailureAnswer(400, kBadId);
  if (type.empty()) return FailureAnswer(400, kNoType);
  if (auto error = store_.Remove(puuid, *loadout, type)) return FailureAnswer(500, *error);
  return {204, ""};
}

ServiceAnswer LoadoutsService::SignedItems(const std::string& puuid, std::string_view body) {
  auto read = ReadStored(puuid, body);
  if (auto* failed = std::get_if<ServiceAnswer>(&read)) return std::move(*failed);
  const ItemsRequest& request = std::get<ItemsRequest>(read);
  const std::int64_t now = now_();
  GoxHost::JsonValue tokens;
  GoxHost::JsonDocument& list = tokens.Edit();
  list.SetArray();
  for (const std::string& type : request.types) {
    const auto stored = request.stored.find(type);
    if (stored == request.stored.end()) continue;
    GoxHost::JsonValue claims;
    GoxHost::JsonDocument& document = claims.Edit();
    auto& allocator = document.GetAllocator();
    document.SetObject();
    document.AddMember("puuid", JsonString(puuid, allocator), allocator);
    document.AddMember("loadoutId", request.id, allocator);
    document.AddMember("inventoryType", JsonString(type, allocator), allocator);
    rapidjson::Value items;
    GoxHost::CopyJson(GoxHost::JsonValue::Parse(stored->second).value().Get(), items, allocator);
    document.AddMember("items", items, allocator);
    document.AddMember("iat", now, allocator);
    document.AddMember("exp", now + kSignedItemLifetimeSeconds, allocator);
    list.PushBack(JsonString(GoxTools::SignToken(claims, secret_), list.GetAllocator()), list.GetAllocator());
  }
  return {200, tokens.Text()};
}

ServiceAnswer LoadoutsService::SetGameCustomization(const std::string& location, const std::string& puuid,
                                                    const std::string& accountId, std::string_view body) {
  const std::optional<std::uint64_t> account = ParseWhole<std::uint64_t>(accountId);
  if (!account) return FailureAnswer(400, kBadAccountId);
  auto read = ReadStored(puuid, body);
  if (auto* failed = std::get_if<ServiceAnswer>(&read)) return std::move(*failed);
  const ItemsRequest& request = std::get<ItemsRequest>(read);
  GoxHost::JsonValue record;
  GoxHost::JsonDocument& document = record.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("puuid", JsonString(puuid, allocator), allocator);
  document.AddMember("location", JsonString(location, allocator), allocator);
  document.AddMember("accountId", *account, allocator);
  document.AddMember("id", request.id, allocator);
  rapidjson::Value types(rapidjson::kArrayType);
  for (const std::string& type : request.types)
    types.PushBack(JsonString(type, allocator), allocator);
  document.AddMember("inventoryTypes", types, allocator);
  rapidjson::Value items(rapidjson::kObjectType);
  for (const auto& [type, text] : request.stored) {
    rapidjson::Value value;
    GoxHost::CopyJson(GoxHost::JsonValue::Parse(text).value().Get(), value, allocator);
    items.AddMember(JsonString(type, allocator), value, allocator);
  }
  document.AddMember("items", items, allocator);
  const std::lock_guard lock(mutex_);
  customizations_.push_back(record.Text());
  if (customizations_.size() > kMaxRecorded) customizations_.pop_front();
  return {200, "{}"};
}

std::string LoadoutsService::GameCustomizationJson() const {
  const std::lock_guard lock(mutex_);
  std::string json = "[";
  for (const std::string& record : customizations_) {
    if (json.size() > 1) json += ",";
    json += record;
  }
  return json + "]";
}

}  // namespace GoxServices
