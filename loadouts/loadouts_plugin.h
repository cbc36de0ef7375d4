// LoadoutsPlugin: the gox-loadouts plugin object the module's entry creates.
//
// At load it registers its types and then its five endpoints; at Initialize it subscribes to the other
// plugins' resources that tell it the player, the region, its configuration and the game flow. All of
// its work runs on the host's plugin thread.

#pragma once

#include "loadouts/champ_select_injection.h"
#include "loadouts/loadouts_state.h"
#include "loadouts/service_client.h"
#include "sdk/host/plugin_base.h"

namespace Quarn::Client::Loadouts {

class LoadoutsPlugin : public PluginBase {
 public:
  LoadoutsPlugin();

  // Registers the types, then the endpoints.
  void OnRegister() override;
  // Makes the seven subscriptions; always starts.
  bool OnInitialize() override;

  [[nodiscard]] const LoadoutsState& State() const { return state_; }
  [[nodiscard]] LoadoutsServiceClient& Client() { return client_; }
  [[nodiscard]] ChampSelectInjection& Injection() { return injection_; }

 private:
  LoadoutsState state_;
  LoadoutsServiceClient client_;
  ChampSelectInjection injection_;
};

}  // namespace Quarn::Client::Loadouts
