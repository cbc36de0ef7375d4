// InventoryPlugin: the gox-inventory plugin, which signs the player's inventory for other plugins.
//
// It serves one endpoint, GET "/gox-inventory/v1/signedInventory": the list of inventory types comes
// as the request's first positional parameter (as another plugin's SendRequest sends it) or as the
// argument "inventoryTypes"; the answer maps each type to a token (see inventory_tokens.h) whose
// claims hold the player's puuid, the type and the ids of the items the player owns of that type.
//
// The player comes from "/gox-login/v1/session" (its "puuid"), the owned items from
// "/gox-host/v1/inventory-fixture" ({"items": {"EMOTE": [10, 11]}, "tokenLifetimeSeconds": 3600}),
// both by subscription.

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/host/plugin_base.h"

namespace GoxInventory {

inline constexpr const char* kShortName = "gox-inventory";
inline constexpr const char* kSignedInventoryPath = "/gox-inventory/v1/signedInventory";
inline constexpr const char* kSessionPath = "/gox-login/v1/session";
inline constexpr const char* kInventoryFixturePath = "/gox-host/v1/inventory-fixture";
inline constexpr std::int64_t kDefaultTokenLifetime = 3600;

inline constexpr const char* kNoSession = "no player is logged in";

class InventoryPlugin final : public Quarn::PluginBase {
 public:
  // Seconds since the epoch; the system clock unless a test sets another.
  using Clock = std::function<std::int64_t()>;

  InventoryPlugin();

  void OnRegister() override;
  bool OnInitialize() override;

  // The tokens for `types`, one per distinct type; 503 without a logged-in player.
  [[nodiscard]] Quarn::MaybeType<Quarn::BindingProperty> SignedInventory(
      const std::vector<std::string>& types) const;

  void SetClock(Clock clock) { clock_ = std::move(clock); }

 private:
  void OnSession(const Quarn::BindingProperty& session);
  void OnInventoryFixture(const Quarn::BindingProperty& fixture);

  std::string secret_;
  Clock clock_;
  std::string puuid_;
  std::map<std::string, std::vector<std::int64_t>, std::less<>> owned_;
  std::int64_t tokenLifetime_ = kDefaultTokenLifetime;
};

}  // namespace GoxInventory
