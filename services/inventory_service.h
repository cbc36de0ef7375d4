// InventoryService: the remote inventory service, answering from InventoryFixtures.
//
//   GET /goxinventoryservice/v2/inventories?puuid=P&inventoryTypes=A&inventoryTypes=B&signed=false&location=L
//   -> {"data": {"puuid", "accountId", "summonerId", "items": {type: [item]}, "expires", "itemsJwt"?}}
//
// No inventoryTypes parameter asks for every type; a type the player owns nothing of answers an empty
// array. signed=true adds "itemsJwt", an HS256 token with the claims puuid, items (ids by type), iat and
// exp. Each item has the full item shape the plugin reads (itemId, inventoryType, dates, quantity, ...).
//
// Read-only: safe to call from any thread.

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "services/inventory_fixtures.h"
#include "services/service_text.h"

namespace GoxServices {

class InventoryService {
 public:
  // `now` gives seconds since the epoch (the clock by default).
  InventoryService(const InventoryFixtures& fixtures, std::string secret,
                   std::function<std::int64_t()> now = {});

  [[nodiscard]] ServiceAnswer Inventories(const std::string& puuid, const std::vector<std::string>& types,
                                          const std::string& signedFlag) const;

 private:
  const InventoryFixtures& fixtures_;
  std::string secret_;
  std::function<std::int64_t()> now_;
};

}  // namespace GoxServices
