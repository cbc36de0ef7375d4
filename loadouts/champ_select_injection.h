// ChampSelectInjection: puts a loadout into the game's customization data (the DuviRidaze), by the
// queue's kind: for a team-builder-managed queue each signed item of the loadout goes through the service
// proxy to "teambuilder-draft"; for any other queue the loadouts service sets the customization itself.
//
// The game-flow callback injects loadout 1 once per entry into champion select; storing items during
// champion select injects the stored loadout again.

#pragma once

#include <cstdint>

#include "loadouts/loadouts_state.h"
#include "loadouts/service_client.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/host/app_module.h"

namespace Quarn::Client::Loadouts {

inline constexpr const char* kSerializingSignedItemsFailed = "Error serializing get signed items request: %s";
inline constexpr const char* kSignedLoadoutFailed = "Error fetching signed loadout from service: %s";
inline constexpr const char* kGameCustomizationFailed = "GameCustomization: could not set requested: %s";
inline constexpr const char* kSetGameCustomizationFailed =
    "Loadouts service failed to set the GameCustomizationObject: %s";
inline constexpr const char* kInjectionFailed =
    "Failed to inject loadout into DuviRidaze on entering Champ Select: %s";
inline constexpr const char* kInjectionSucceeded = "Loadout %d injected into DuviRidaze successfully";

inline constexpr const char* kTeamBuilderService = "teambuilder-draft";
inline constexpr const char* kTeamBuilderMethod = "setGameCustomizationV1";
inline constexpr const char* kSignedItemPrefix = "loadouts";
// The loadout injected on entering champion select.
inline constexpr std::uint32_t kChampSelectLoadout = 1;

class ChampSelectInjection {
 public:
  ChampSelectInjection(AppModule& module, LoadoutsState& state, LoadoutsServiceClient& client)
      : module_(module), state_(state), client_(client) {}

  // Hands each signed item of loadout id to the team-builder service, in order, stopping at the first
  // refusal. Answers the empty value.
  [[nodiscard]] MaybeType<BindingProperty> SendSignedItemsToGame(std::uint32_t id);
  // Asks the loadouts service to set the game customization from loadout id; sends nothing when the
  // inventory plugin gives no tokens. Answers the empty value.
  [[nodiscard]] MaybeType<BindingProperty> SetGameCustomization(std::uint32_t id);

  // The game-flow subscription's callback: injects loadout 1 on entering champion select and keeps the
  // last phase and queue flag.
  void OnGameflow(const TypedResourceEvent<Api::GameflowSession>& event);
  // After items of loadout id were stored: injects them again while in champion select; the outcome is
  // dropped (the operations log their own failures).
  void AfterItemsStored(std::uint32_t id);

 private:
  // The switch check, then the request for loadout id naming the valid inventory types and their signed
  // tokens; failures are logged.
  [[nodiscard]] MaybeType<Api::GetItemsRequest> SignedItemsRequest(std::uint32_t id);
  [[nodiscard]] MaybeType<BindingProperty> InjectForQueue(std::uint32_t id);

  AppModule& module_;
  LoadoutsState& state_;
  LoadoutsServiceClient& client_;
};

}  // namespace Quarn::Client::Loadouts
