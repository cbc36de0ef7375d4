#include "loadouts/upstream_subscriptions.h"

#include <utility>

#include "loadouts/config_values.h"
#include "sdk/diagnostics/assertion_report.h"
#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn::Client::Loadouts {

namespace {

enum class Change { kSet, kReset, kIgnore };

Change ChangeOf(PluginResourceEventType type) {
  switch (type) {
    case PluginResourceEventType::Create:
    case PluginResourceEventType::Update:
      return Change::kSet;
    case PluginResourceEventType::Delete:
      return Change::kReset;
  }
  return Change::kIgnore;
}

void PublishEnabled(AppModule& module, bool enabled) {
  (void)module.PublishResource(kEnabledPath, enabled);
}

}  // namespace

void OnLoginSession(LoadoutsState& state, const TypedResourceEvent<Api::LoginSession>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet: {
      const Api::LoginSession& session = event.value;
      const bool ready = session.state == Api::LoginSessionStates::SUCCEEDED && session.accountId != 0 &&
                         session.summonerId != 0;
      const bool wasReady = state.sessionReady;
      state.sessionReady = ready;
      if (!wasReady && ready) {
        state.accountId = session.accountId;
        state.puuid = session.puuid;
      }
      break;
    }
    case Change::kReset:
      state.sessionReady = false;
      state.accountId = 0;
      state.puuid.clear();
      break;
    case Change::kIgnore:
      break;
  }
}

void OnAccessToken(LoadoutsState& state, const TypedResourceEvent<Api::AccessTokenResource>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet:
      // Joined rather than formatted: a formatted text stops at 4095 characters, and a longer token cut
      // short would make every request fail authorisation.
      state.defaultHeaders["Authorization"] = std::string(kBearerPrefix) + event.value.token;
      state.defaultHeaders["Content-type"] = "application/json";
      break;
    case Change::kReset:
      state.defaultHeaders.clear();
      break;
    case Change::kIgnore:
      break;
  }
}

void OnRegion(AppModule& module, LoadoutsState& state, const TypedResourceEvent<BindingProperty>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet: {
      const std::string region = TextForm(event.value.Field("region"));
      MaybeType<BindingProperty> regionData =
          module.SendRequest<BindingProperty>(kHttpMethodGet, kRegionDataPath);
      if (regionData.HasFailure()) {
        ReportAssertion(kRegionDataAssertion, kRegionDataUnavailable, nullptr, 0, nullptr);
        return;
      }
      // Read through a const view: the writing accessor would insert the member it looks for.
      const BindingProperty& data = regionData.Value();
      const BindingProperty& entry = data.Field(region);
      if (!entry.HasField("servers")) return;
      const BindingProperty& servers = entry.Field("servers");
      if (!servers.HasField("trovix_service_location")) return;
      state.serviceLocation = TextForm(servers.Field("trovix_service_location"));
      break;
    }
    case Change::kReset:
      state.serviceLocation.clear();
      break;
    case Change::kIgnore:
      break;
  }
}

void OnPreferences(LoadoutsState& state, const TypedResourceEvent<bool>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet:
      state.preferencesReady = event.value;
      break;
    case Change::kReset:
      state.preferencesReady = false;
      break;
    case Change::kIgnore:
      break;
  }
}

void OnConfiguration(AppModule& module, LoadoutsState& state,
                     const TypedResourceEvent<BindingProperty>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet: {
      const BindingProperty& config = event.value;
      const bool hasInventoryUrl = config.HasField("InventoryServiceUrl");
      const bool hasLoadoutsUrl = config.HasField("LoadoutsServiceUrl");
      const bool hasEnabled = config.HasField("Enabled");
      if (hasInventoryUrl && hasLoadoutsUrl && hasEnabled) {
        state.inventoryServiceUrl = TextForm(config.Field("InventoryServiceUrl"));
        state.loadoutsServiceUrl = TextForm(config.Field("LoadoutsServiceUrl"));
        state.enabled = Truth(config.Field("Enabled"));
      } else {
        state.enabled = false;
        if (!hasInventoryUrl) Log(kLogLevelError, kCategoryDebug, "%s", kMissingInventoryServiceUrl);
        if (!hasLoadoutsUrl) Log(kLogLevelError, kCategoryDebug, "%s", kMissingLoadoutsServiceUrl);
        if (!hasEnabled) Log(kLogLevelError, kCategoryDebug, "%s", kMissingEnabled);
      }
      PublishEnabled(module, state.enabled);
      break;
    }
    case Change::kReset:
      state.inventoryServiceUrl.clear();
      state.loadoutsServiceUrl.clear();
      state.enabled = false;
      PublishEnabled(module, false);
      state.serviceLocation.clear();
      break;
    case Change::kIgnore:
      break;
  }
}

void OnValidInventoryTypes(LoadoutsState& state, const TypedResourceEvent<std::vector<std::string>>& event) {
  switch (ChangeOf(event.eventType)) {
    case Change::kSet:
      state.validInventoryTypes = event.value;
      break;
    case Change::kReset:
      state.validInventoryTypes.clear();
      break;
    case Change::kIgnore:
      break;
  }
}

void SubscribeUpstream(AppModule& module, LoadoutsState& state, ChampSelectInjection& injection) {
  module.AddResourceListener<Api::LoginSession>(
      kLoginSessionPath, [&state](const auto& event) { OnLoginSession(state, event); });
  module.AddResourceListener<Api::AccessTokenResource>(
      kAccessTokenPath, [&state](const auto& event) { OnAccessToken(state, event); });
  module.AddResourceListener<BindingProperty>(
      kRegionLocalePath, [&module, &state](const auto& event) { OnRegion(module, state, event); });
  module.AddResourceListener<bool>(kPreferencesReadyPath,
                                   [&state](const auto& event) { OnPreferences(state, event); });
  module.AddResourceListener<BindingProperty>(
      kConfigurationPath, [&module, &state](const auto& event) { OnConfiguration(module, state, event); });
  module.AddResourceListener<std::vector<std::string>>(
      kValidInventoryTypesPath, [&state](const auto& event) { OnValidInventoryTypes(state, event); });
  module.AddResourceListener<Api::GameflowSession>(
      kGameflowSessionPath, [&injection](const auto& event) { injection.OnGameflow(event); });
}

}  // namespace Quarn::Client::Loadouts
