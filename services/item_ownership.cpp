#include "services/item_ownership.h"

#include "services/service_text.h"
#include "tools/common/token_signing.h"

namespace GoxServices {
namespace {

bool CollectIds(const rapidjson::Value& value, std::vector<std::int64_t>& ids) {
  if (value.IsInt64()) {
    ids.push_back(value.GetInt64());
    return true;
  }
  if (value.IsArray()) {
    for (const auto& element : value.GetArray())
      if (!CollectIds(element, ids)) return false;
    return true;
  }
  if (value.IsObject()) {
    if (value.HasMember("itemId")) return value["itemId"].IsInt64() && CollectIds(value["itemId"], ids);
    for (const auto& member : value.GetObject())
      if (!CollectIds(member.value, ids)) return false;
    return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::int64_t>> ItemIds(const rapidjson::Value& items) {
  std::vector<std::int64_t> ids;
  if (!CollectIds(items, ids)) return std::nullopt;
  return ids;
}

std::variant<ItemOwnership, std::string> ItemOwnership::FromTokens(const rapidjson::Value& tokens,
                                                                   const std::string& puuid,
                                                                   std::string_view secret,
                                                                   std::int64_t now) {
  ItemOwnership ownership;
  if (!tokens.IsArray()) return std::string(kTokenNotText);
  for (const auto& token : tokens.GetArray()) {
    if (!token.IsString()) return std::string(kTokenNotText);
    auto verified = GoxTools::VerifyToken(token.GetString(), secret, now);
    if (const auto* error = std::get_if<GoxTools::TokenError>(&verified))
      return Format(kTokenRefused, error->message.c_str());
    const rapidjson::Value& claims = std::get<GoxHost::JsonValue>(verified).Get();
    if (!claims.HasMember("inventoryType") || !claims["inventoryType"].IsString() ||
        !claims.HasMember("items") || !claims["items"].IsArray())
      return std::string(kBadClaims);
    const std::string type = claims["inventoryType"].GetString();
    if (!claims.HasMember("puuid") || !claims["puuid"].IsString() || claims["puuid"].GetString() != puuid)
      return Format(kOtherPlayer, type.c_str());
    std::set<std::int64_t>& owned = ownership.owned_[type];
    for (const auto& item : claims["items"].GetArray())
      if (item.IsInt64()) owned.insert(item.GetInt64());
  }
  return ownership;
}

std::optional<std::string> ItemOwnership::Check(const std::string& type,
                                                const rapidjson::Value& items) const {
  const auto owned = owned_.find(type);
  if (owned == owned_.end()) return Format(kNoTokenFor, type.c_str());
  const std::optional<std::vector<std::int64_t>> ids = ItemIds(items);
  if (!ids) return Format(kNotItemIds, type.c_str());
  for (const std::int64_t id : *ids)
    if (!owned->second.contains(id)) return Format(kNotOwned, static_cast<long long>(id), type.c_str());
  return std::nullopt;
}

}  // namespace GoxServices
