// The loadouts plugin's native types: what it exchanges with the front end, the remote loadouts and
// inventory services, other plugins' resources and the game-customization service, each with its fixed
// type identifier, and their registration in the plugin's type registry.
//
// Members are declared in the order they are registered; their JSON keys are the member names except
// InventoryItemDTO::entitlementTypeId, whose key is "eneitlementTypeId" (the services spell it so). No
// member is required or left out when empty: absent or null input leaves the default, output writes all.

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/type_identifier.h"

namespace Quarn::Client::Loadouts::Api {

struct ItemKey {
  std::string inventoryType;
  std::int32_t itemId = 0;
};

struct Loadout {
  std::uint32_t id = 0;
  std::string name;
  std::map<std::string, BindingProperty> items;  // keyed by inventory type
};

// Body of a request that stores items: the free-form value per inventory type and the signed inventory
// tokens of those types.
struct CreateOrUpdateItemsRequest {
  std::uint32_t id = 0;
  std::map<std::string, BindingProperty> items;
  std::vector<std::string> inventoryJWTs;
};

// Body of the requests that read items, read signed items or set the game customization.
struct GetItemsRequest {
  std::uint32_t id = 0;
  std::vector<std::string> inventoryTypes;
  std::vector<std::string> inventoryJWTs;
};

struct InventoryItemDTO {
  std::int32_t itemId = 0;
  std::string inventoryType;
  std::string expirationDate;
  std::string purchaseDate;
  std::uint64_t quantity = 0;
  std::string usedInGameDate;
  std::string entitlementId;
  std::string entitlementTypeId;  // key "eneitlementTypeId"
  std::string instanceId;
  std::string instanceTypeId;
  bool f2p = false;
  bool rental = false;
  bool lsb = false;
  std::uint64_t wins = 0;
};

struct InventoryDTO {
  std::string puuid;
  std::uint64_t accountId = 0;
  std::uint64_t summonerId = 0;
  std::map<std::string, BindingProperty> items;  // each value is expected to be a list of InventoryItemDTO
  std::string expires;
  std::optional<std::string> itemsJwt;
};

struct InventoryResponseDTO {
  InventoryDTO data;
};

struct FrontendInventoryResponse {
  std::vector<ItemKey> entitlements;
};

enum class LoginSessionStates : std::int32_t {
  IN_PROGRESS = 0,
  SUCCEEDED = 1,
  LOGGING_OUT = 2,
  ERROR = 3,
};

struct LoginSession {
  LoginSessionStates state = LoginSessionStates::IN_PROGRESS;
  std::uint64_t summonerId = 0;
  std::uint64_t accountId = 0;
  std::string idToken;
  BindingProperty gasToken;
  std::string puuid;
};

struct AccessTokenResource {
  std::string token;
  std::vector<std::string> scopes;
  std::uint64_t expiry = 0;
};

enum class GameflowPhase : std::int32_t {
  None = 0,
  Lobby = 1,
  Matchmaking = 2,
  CheckedIntoTournament = 3,
  ReadyCheck = 4,
  ChampSelect = 5,
  GameStart = 6,
  FailedToLaunch = 7,
  InProgress = 8,
  Reconnect = 9,
  WaitingForStats = 10,
  PreEndOfGame = 11,
  EndOfGame = 12,
  TerminatedInError = 13,
};

struct Queue {
  bool isTeamBuilderManaged = false;
};

struct GameflowGameData {
  Queue queue;
};

struct GameflowSession {
  GameflowPhase phase = GameflowPhase::None;
  GameflowGameData gameData;
};

// The identifier of the list of inventory items, which the inventory conversion reads into.
inline constexpr std::uint32_t kInventoryItemListTypeId = 0x4B1D0E57;
static_assert(kInventoryItemListTypeId != kReservedTypeId, "the reserved identifier is never found by id");

}  // namespace Quarn::Client::Loadouts::Api

namespace Quarn {

class TypeRegistry;

// clang-format off
template <> struct TypeTraits<Client::Loadouts::Api::ItemKey> : StructTypeTraits<0xCC5D90A5> {};
template <> struct TypeTraits<Client::Loadouts::Api::Loadout> : StructTypeTraits<0x6A07DACF> {};
template <> struct TypeTraits<Client::Loadouts::Api::CreateOrUpdateItemsRequest> : StructTypeTraits<0x1D4F5620> {};
template <> struct TypeTraits<Client::Loadouts::Api::GetItemsRequest> : StructTypeTraits<0xCE8F7454> {};
template <> struct TypeTraits<Client::Loadouts::Api::InventoryItemDTO> : StructTypeTraits<0xC4B08FEB> {};
template <> struct TypeTraits<Client::Loadouts::Api::InventoryDTO> : StructTypeTraits<0x5FE6902C> {};
template <> struct TypeTraits<Client::Loadouts::Api::InventoryResponseDTO> : StructTypeTraits<0xC23CD2BB> {};
template <> struct TypeTraits<Client::Loadouts::Api::FrontendInventoryResponse> : StructTypeTraits<0x3B639692> {};
template <> struct TypeTraits<Client::Loadouts::Api::LoginSessionStates> : EnumTypeTraits<0xD4454F1F> {};
template <> struct TypeTraits<Client::Loadouts::Api::LoginSession> : StructTypeTraits<0x677ED5FA> {};
template <> struct TypeTraits<Client::Loadouts::Api::AccessTokenResource> : StructTypeTraits<0x159F215E> {};
template <> struct TypeTraits<Client::Loadouts::Api::GameflowPhase> : EnumTypeTraits<0x9AC31980> {};
template <> struct TypeTraits<Client::Loadouts::Api::Queue> : StructTypeTraits<0xEBA95AAA> {};
template <> struct TypeTraits<Client::Loadouts::Api::GameflowGameData> : StructTypeTraits<0x73501ECB> {};
template <> struct TypeTraits<Client::Loadouts::Api::GameflowSession> : StructTypeTraits<0x9E4685C9> {};
template <> struct TypeTraits<std::vector<Client::Loadouts::Api::ItemKey>>
    : VectorTypeTraits<0x43EF594C, Client::Loadouts::Api::ItemKey> {};
template <> struct TypeTraits<std::vector<Client::Loadouts::Api::InventoryItemDTO>>
    : VectorTypeTraits<Client::Loadouts::Api::kInventoryItemListTypeId, Client::Loadouts::Api::InventoryItemDTO> {};
// clang-format on

}  // namespace Quarn

namespace Quarn::Client::Loadouts {

// Registers the fifteen types in the registry under prefix followed by each type's own name
// ("GoxLoadoutsItemKey"), in a fixed order: referenced types before the types that refer to them. A type
// registered before is left as it is.
void RegisterLoadoutsTypes(TypeRegistry& registry, std::string_view prefix);

// The static name text of a request type, the way messages about a request body name its type.
template <class T>
struct StaticType;
template <>
struct StaticType<Api::GetItemsRequest> {
  static constexpr std::string_view kName =
      "const char *__cdecl StaticType::Name<struct Quarn::Client::Loadouts::Api::GetItemsRequest>(void)";
};
template <>
struct StaticType<Api::CreateOrUpdateItemsRequest> {
  static constexpr std::string_view kName =
      "const char *__cdecl StaticType::Name<struct "
      "Quarn::Client::Loadouts::Api::CreateOrUpdateItemsRequest>(void)";
};

}  // namespace Quarn::Client::Loadouts
