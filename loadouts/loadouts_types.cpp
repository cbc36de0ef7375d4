#include "loadouts/loadouts_types.h"

#include <cstddef>
#include <string>

#include "sdk/binding/type_registry.h"

// Loadout, CreateOrUpdateItemsRequest and InventoryDTO hold std::map members, and libstdc++'s map is not
// standard-layout, so offsetof on those structures is only conditionally supported by the language and
// draws a warning. It is safe here: the structures have no virtual functions and no virtual bases, so
// g++ and clang lay every member at a fixed offset from the start, which is what offsetof answers.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace Quarn::Client::Loadouts {

namespace {

using namespace Api;

std::string Prefixed(std::string_view prefix, std::string_view name) {
  std::string full(prefix);
  full.append(name);
  return full;
}

// Adds a member of type M under key at offset.
template <class M>
void Add(TypeBuilder& builder, std::string_view key, std::size_t offset) {
  builder.AddField<M>(key, static_cast<std::uint32_t>(offset));
}

}  // namespace

void RegisterLoadoutsTypes(TypeRegistry& registry, std::string_view prefix) {
  {
    TypeBuilder type = registry.RegisterType<ItemKey>(Prefixed(prefix, "ItemKey"));
    Add<std::string>(type, "inventoryType", offsetof(ItemKey, inventoryType));
    Add<std::int32_t>(type, "itemId", offsetof(ItemKey, itemId));
  }
  {
    TypeBuilder type = registry.RegisterType<Loadout>(Prefixed(prefix, "Loadout"));
    Add<std::uint32_t>(type, "id", offsetof(Loadout, id));
    Add<std::string>(type, "name", offsetof(Loadout, name));
    Add<std::map<std::string, BindingProperty>>(type, "items", offsetof(Loadout, items));
  }
  {
    TypeBuilder type =
        registry.RegisterType<CreateOrUpdateItemsRequest>(Prefixed(prefix, "CreateOrUpdateItemsRequest"));
    Add<std::uint32_t>(type, "id", offsetof(CreateOrUpdateItemsRequest, id));
    Add<std::map<std::string, BindingProperty>>(type, "items", offsetof(CreateOrUpdateItemsRequest, items));
    Add<std::vector<std::string>>(type, "inventoryJWTs", offsetof(CreateOrUpdateItemsRequest, inventoryJWTs));
  }
  {
    TypeBuilder type = registry.RegisterType<GetItemsRequest>(Prefixed(prefix, "GetItemsRequest"));
    Add<std::uint32_t>(type, "id", offsetof(GetItemsRequest, id));
    Add<std::vector<std::string>>(type, "inventoryTypes", offsetof(GetItemsRequest, inventoryTypes));
    Add<std::vector<std::string>>(type, "inventoryJWTs", offsetof(GetItemsRequest, inventoryJWTs));
  }
  {
    TypeBuilder type = registry.RegisterType<InventoryItemDTO>(Prefixed(prefix, "InventoryItemDTO"));
    Add<std::int32_t>(type, "itemId", offsetof(InventoryItemDTO, itemId));
    Add<std::string>(type, "inventoryType", offsetof(InventoryItemDTO, inventoryType));
    Add<std::string>(type, "expirationDate", offsetof(InventoryItemDTO, expirationDate));
    Add<std::string>(type, "purchaseDate", offsetof(InventoryItemDTO, purchaseDate));
    Add<std::uint64_t>(type, "quantity", offsetof(InventoryItemDTO, quantity));
    Add<std::string>(type, "usedInGameDate", offsetof(InventoryItemDTO, usedInGameDate));
    Add<std::string>(type, "entitlementId", offsetof(InventoryItemDTO, entitlementId));
    Add<std::string>(type, "eneitlementTypeId", offsetof(InventoryItemDTO, entitlementTypeId));
    Add<std::string>(type, "instanceId", offsetof(InventoryItemDTO, instanceId));
    Add<std::string>(type, "instanceTypeId", offsetof(InventoryItemDTO, instanceTypeId));
    Add<bool>(type, "f2p", offsetof(InventoryItemDTO, f2p));
    Add<bool>(type, "rental", offsetof(InventoryItemDTO, rental));
    Add<bool>(type, "lsb", offsetof(InventoryItemDTO, lsb));
    Add<std::uint64_t>(type, "wins", offsetof(InventoryItemDTO, wins));
  }
  {
    TypeBuilder type = registry.RegisterType<InventoryDTO>(Prefixed(prefix, "InventoryDTO"));
    Add<std::string>(type, "puuid", offsetof(InventoryDTO, puuid));
    Add<std::uint64_t>(type, "accountId", offsetof(InventoryDTO, accountId));
    Add<std::uint64_t>(type, "summonerId", offsetof(InventoryDTO, summonerId));
    Add<std::map<std::string, BindingProperty>>(type, "items", offsetof(InventoryDTO, items));
    Add<std::string>(type, "expires", offsetof(InventoryDTO, expires));
    Add<std::optional<std::string>>(type, "itemsJwt", offsetof(InventoryDTO, itemsJwt));
  }
  {
    TypeBuilder type = registry.RegisterType<InventoryResponseDTO>(Prefixed(prefix, "InventoryResponseDTO"));
    Add<InventoryDTO>(type, "data", offsetof(InventoryResponseDTO, data));
  }
  {
    TypeBuilder type =
        registry.RegisterType<FrontendInventoryResponse>(Prefixed(prefix, "FrontendInventoryResponse"));
    Add<std::vector<ItemKey>>(type, "entitlements", offsetof(FrontendInventoryResponse, entitlements));
  }
  registry.RegisterType<LoginSessionStates>(Prefixed(prefix, "LoginSessionStates"))
      .AddEnumValue("IN_PROGRESS", 0)
      .AddEnumValue("ERROR", 3)
      .AddEnumValue("SUCCEEDED", 1)
      .AddEnumValue("LOGGING_OUT", 2);
  {
    TypeBuilder type = registry.RegisterType<LoginSession>(Prefixed(prefix, "LoginSession"));
    Add<LoginSessionStates>(type, "state", offsetof(LoginSession, state));
    Add<std::uint64_t>(type, "summonerId", offsetof(LoginSession, summonerId));
    Add<std::uint64_t>(type, "accountId", offsetof(LoginSession, accountId));
    Add<std::string>(type, "idToken", offsetof(LoginSession, idToken));
    Add<BindingProperty>(type, "gasToken", offsetof(LoginSession, gasToken));
    Add<std::string>(type, "puuid", offsetof(LoginSession, puuid));
  }
  {
    TypeBuilder type = registry.RegisterType<AccessTokenResource>(Prefixed(prefix, "AccessTokenResource"));
    Add<std::string>(type, "token", offsetof(AccessTokenResource, token));
    Add<std::vector<std::string>>(type, "scopes", offsetof(AccessTokenResource, scopes));
    Add<std::uint64_t>(type, "expiry", offsetof(AccessTokenResource, expiry));
  }
  {
    static constexpr const char* kPhases[] = {
        "None",
        "Lobby",
        "Matchmaking",
        "CheckedIntoTournament",
        "ReadyCheck",
        "ChampSelect",
        "GameStart",
        "FailedToLaunch",
        "InProgress",
        "Reconnect",
        "WaitingForStats",
        "PreEndOfGame",
        "EndOfGame",
        "TerminatedInError",
    };
    TypeBuilder type = registry.RegisterType<GameflowPhase>(Prefixed(prefix, "GameflowPhase"));
    std::int32_t value = 0;
    for (const char* phase : kPhases)
      type.AddEnumValue(phase, value++);
  }
  {
    TypeBuilder type = registry.RegisterType<Queue>(Prefixed(prefix, "Queue"));
    Add<bool>(type, "isTeamBuilderManaged", offsetof(Queue, isTeamBuilderManaged));
  }
  {
    TypeBuilder type = registry.RegisterType<GameflowGameData>(Prefixed(prefix, "GameflowGameData"));
    Add<Queue>(type, "queue", offsetof(GameflowGameData, queue));
  }
  {
    TypeBuilder type = registry.RegisterType<GameflowSession>(Prefixed(prefix, "GameflowSession"));
    Add<GameflowPhase>(type, "phase", offsetof(GameflowSession, phase));
    Add<GameflowGameData>(type, "gameData", offsetof(GameflowSession, gameData));
  }
}

}  // namespace Quarn::Client::Loadouts
