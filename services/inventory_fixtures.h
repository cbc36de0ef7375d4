// InventoryFixtures: the players' inventories the inventory service answers from.
//
// Embedded defaults hold gox-host's default player (puuid "00000000-0000-4000-8000-000000000001",
// account 1001, summoner 2001) owning BANNER 1 2 3, EMOTE 10 11 and COMPANION 100, so that the two
// executables agree out of the box. A fixtures file replaces them:
//   {
//     "inventories": {"<puuid>": {"accountId": 1001, "summonerId": 2001, "items": {"EMOTE": [10, 11]}}},
//     "tokenLifetimeSeconds": 3600
//   }
// Every member is optional; "inventories" replaces the default inventories as a whole.
//
// Read-only once the server runs.

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace GoxServices {

struct Inventory {
  std::uint64_t accountId = 0;
  std::uint64_t summonerId = 0;
  std::map<std::string, std::vector<std::int64_t>> items;  // item ids by inventory type
};

class InventoryFixtures {
 public:
  InventoryFixtures();

  // Applies a fixtures file's text over the defaults; the reason when it is not a valid fixtures file
  // (nothing is applied then).
  [[nodiscard]] std::optional<std::string> Apply(std::string_view text);

  // The inventory of `puuid`; null for a player the fixtures do not know.
  [[nodiscard]] const Inventory* Find(const std::string& puuid) const;
  [[nodiscard]] std::int64_t TokenLifetimeSeconds() const { return tokenLifetime_; }

 private:
  std::map<std::string, Inventory> inventories_;
  std::int64_t tokenLifetime_ = 3600;
};

}  // namespace GoxServices
