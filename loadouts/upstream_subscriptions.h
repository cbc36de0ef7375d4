// The plugin's subscriptions to other plugins' resources, and the callbacks that keep LoadoutsState
// current from them: login session, sign-on access token, region, player-preferences readiness, the
// "Loadouts" configuration namespace and its valid inventory types, and the game flow.
//
// Every callback handles Create and Update alike and resets on Delete; any other event type is ignored.

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "loadouts/champ_select_injection.h"
#include "loadouts/loadouts_state.h"
#include "loadouts/loadouts_types.h"
#include "sdk/binding/binding_property.h"
#include "sdk/host/app_module.h"

namespace Quarn::Client::Loadouts {

inline constexpr const char* kLoginSessionPath = "/gox-login/v1/session";
inline constexpr const char* kAccessTokenPath = "/bxo-auth/v1/authorization/access-token";
inline constexpr const char* kRegionLocalePath = "/quarnclient/region-locale";
inline constexpr const char* kPreferencesReadyPath = "/gox-player-preferences/v1/player-preferences-ready";
inline constexpr const char* kConfigurationPath = "/gox-platform-config/v1/namespaces/Loadouts";
inline constexpr const char* kValidInventoryTypesPath =
    "/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes";
inline constexpr const char* kGameflowSessionPath = "/gox-gameflow/v1/session";
inline constexpr const char* kRegionDataPath = "/data-store/v1/system-settings/region_data";
// The plugin's own resource announcing the feature switch.
inline constexpr const char* kEnabledPath = "/gox-loadouts/v1/enabled";

inline constexpr std::string_view kBearerPrefix = "Bearer ";

inline constexpr const char* kRegionDataAssertion = "ALE-6238ECBF";
inline constexpr const char* kRegionDataUnavailable = "Failed to get regionSettings";
inline constexpr const char* kMissingInventoryServiceUrl = "JMX missing InventoryServiceUrl config!";
inline constexpr const char* kMissingLoadoutsServiceUrl = "JMX missing LoadoutsServiceUrl config!";
inline constexpr const char* kMissingEnabled = "JMX missing Enabled config!";

// Makes the seven subscriptions in order; each exact path delivers its current value at once.
void SubscribeUpstream(AppModule& module, LoadoutsState& state, ChampSelectInjection& injection);

// The callbacks, for the subscriptions and for tests.
void OnLoginSession(LoadoutsState& state, const TypedResourceEvent<Api::LoginSession>& event);
void OnAccessToken(LoadoutsState& state, const TypedResourceEvent<Api::AccessTokenResource>& event);
// Looks the region's service location up in the data store's region data.
void OnRegion(AppModule& module, LoadoutsState& state, const TypedResourceEvent<BindingProperty>& event);
void OnPreferences(LoadoutsState& state, const TypedResourceEvent<bool>& event);
// Takes the service URLs and the switch, and publishes the switch.
void OnConfiguration(AppModule& module, LoadoutsState& state,
                     const TypedResourceEvent<BindingProperty>& event);
void OnValidInventoryTypes(LoadoutsState& state, const TypedResourceEvent<std::vector<std::string>>& event);

}  // namespace Quarn::Client::Loadouts
