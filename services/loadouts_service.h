// LoadoutsService: the remote loadouts service the plugin stores its loadouts in.
//
//   POST   /loadouts/v3/items/get?puuid=P      {id, inventoryTypes, inventoryJWTs} -> {type: items} stored
//   POST   /loadouts/v3/items?puuid=P          {id, items: {type: items}, inventoryJWTs} -> 204
//   DELETE /loadouts/v3/items/{id}?inventoryType=T&puuid=P                      -> 204
//   POST   /loadouts/v3/signedItems/get?puuid=P {id, inventoryTypes, inventoryJWTs} -> [signed item token]
//   POST   /loadouts/v3/setGameCustomization/?location=L&puuid=P&accountId=A  (same body) -> {} and recorded
//
// Every request that names inventory types must carry a valid inventory token for each of them (see
// ItemOwnership); a store must own every item it names. A signed item token is an HS256 token with the
// claims puuid, loadoutId, inventoryType, items (as stored), iat and exp.
//
// Safe to call from any thread.

#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "services/loadout_store.h"
#include "services/service_text.h"

namespace GoxServices {

// The refusals of a body that does not have the request's shape.
inline constexpr const char* kBadGetBody =
    "the body must be a JSON object with \"id\" (uint32), \"inventoryTypes\" (strings) and \"inventoryJWTs\" "
    "(strings)";
inline constexpr const char* kBadSetBody =
    "the body must be a JSON object with \"id\" (uint32), \"items\" (an object by inventory type) and "
    "\"inventoryJWTs\" (strings)";

class LoadoutsService {
 public:
  // Customizations kept for the admin API; older ones are forgotten.
  static constexpr std::size_t kMaxRecorded = 200;
  static constexpr std::int64_t kSignedItemLifetimeSeconds = 3600;

  // `now` gives seconds since the epoch (the clock by default).
  LoadoutsService(LoadoutStore& store, std::string secret, std::function<std::int64_t()> now = {});

  [[nodiscard]] ServiceAnswer GetItems(const std::string& puuid, std::string_view body);
  [[nodiscard]] ServiceAnswer SetItems(const std::string& puuid, std::string_view body);
  [[nodiscard]] ServiceAnswer DeleteItems(const std::string& puuid, const std::string& id,
                                          const std::string& type);
  [[nodiscard]] ServiceAnswer SignedItems(const std::string& puuid, std::string_view body);
  [[nodiscard]] ServiceAnswer SetGameCustomization(const std::string& location, const std::string& puuid,
                                                   const std::string& accountId, std::string_view body);

  // The recorded customizations, oldest first: [{puuid, location, accountId, id, inventoryTypes, items}].
  [[nodiscard]] std::string GameCustomizationJson() const;

 private:
  struct ItemsRequest;
  // The request and its stored items, or the failure to answer.
  [[nodiscard]] std::variant<ItemsRequest, ServiceAnswer> ReadStored(const std::string& puuid,
                                                                     std::string_view body);

  LoadoutStore& store_;
  std::string secret_;
  std::function<std::int64_t()> now_;
  mutable std::mutex mutex_;
  std::deque<std::string> customizations_;  // JSON texts
};

}  // namespace GoxServices
