// ItemOwnership: what the inventory tokens of one request prove the player owns.
//
// The loadouts service never trusts the items it is asked to store: each request carries one signed
// inventory token per inventory type (HS256, claims puuid, inventoryType, items, iat, exp), and an item
// is accepted only when a valid token of its type, issued for the request's puuid, lists it as owned.
//
// Item ids inside a stored value: an integer is one id; an array or object holds ids in its elements or
// member values; an object with an "itemId" member is that one id. Any other leaf (a string, a bool,
// null, a fraction) is refused, so that nothing is stored that could not be checked.

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/json_value.h"

namespace GoxServices {

class ItemOwnership {
 public:
  // The ownership proved by `tokens` (a JSON array of token texts) for `puuid`, or why a token was
  // refused: not a string, a bad signature, expired at `now`, for another player, or malformed claims.
  [[nodiscard]] static std::variant<ItemOwnership, std::string> FromTokens(const rapidjson::Value& tokens,
                                                                           const std::string& puuid,
                                                                           std::string_view secret,
                                                                           std::int64_t now);

  // Whether a valid token of `type` came with the request.
  [[nodiscard]] bool Covers(const std::string& type) const { return owned_.contains(type); }
  // Nothing when every item id in `items` is owned in `type`; the refusal otherwise.
  [[nodiscard]] std::optional<std::string> Check(const std::string& type,
                                                 const rapidjson::Value& items) const;

 private:
  std::map<std::string, std::set<std::int64_t>> owned_;
};

// The item ids in a stored value (see above); nothing when a leaf is not an item id.
[[nodiscard]] std::optional<std::vector<std::int64_t>> ItemIds(const rapidjson::Value& items);

// Messages of the refusals, for tests.
inline constexpr const char* kNoTokenFor = "no valid inventory token for %s";
inline constexpr const char* kNotOwned = "item %lld of %s is not owned";
inline constexpr const char* kNotItemIds = "items of %s must be item ids";
inline constexpr const char* kTokenRefused = "inventory token refused: %s";
inline constexpr const char* kTokenNotText = "inventory tokens must be strings";
inline constexpr const char* kOtherPlayer = "inventory token of %s is for another player";
inline constexpr const char* kBadClaims = "inventory token claims need inventoryType and items";

}  // namespace GoxServices
