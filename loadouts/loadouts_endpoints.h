// The plugin's five endpoints under "/gox-loadouts/": read, store and delete a loadout's items, push a
// loadout into the game's customization data, and list the player's inventory as item keys.

#pragma once

#include <span>
#include <string>
#include <vector>

#include "loadouts/champ_select_injection.h"
#include "loadouts/loadouts_types.h"
#include "loadouts/service_client.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/type_registry.h"

namespace Quarn::Client::Loadouts {

inline constexpr const char* kItemsOfTypeRoute = "/gox-loadouts/v2/items/{id}/{inventoryType}";
inline constexpr const char* kItemsRoute = "/gox-loadouts/v2/items/{id}";
inline constexpr const char* kSendItemsRoute = "/gox-loadouts/v1/sendItemsToDuviRidaze/{id}";
inline constexpr const char* kInventoryRoute = "/gox-loadouts/v1/inventory";

// Registers the endpoints in order, their handlers bound to client and injection.
void RegisterLoadoutsEndpoints(TypeRegistry& registry, std::span<const std::string> tags,
                               LoadoutsServiceClient& client, ChampSelectInjection& injection);

// The player's inventory of those types (every type for none) as item keys, each under the item's own
// inventory type; an entry of the answer that is not a list of items contributes nothing.
[[nodiscard]] MaybeType<Api::FrontendInventoryResponse> GetInventory(
    LoadoutsServiceClient& client, const TypeRegistry& registry,
    const std::vector<std::string>& inventoryTypes);

}  // namespace Quarn::Client::Loadouts
