#include "loadouts/loadouts_plugin.h"

#include "loadouts/loadouts_endpoints.h"
#include "loadouts/loadouts_types.h"
#include "loadouts/upstream_subscriptions.h"

namespace Quarn::Client::Loadouts {

LoadoutsPlugin::LoadoutsPlugin() : client_(*this, state_), injection_(*this, state_, client_) {
  client_.SetStoredHook([this](std::uint32_t id) { injection_.AfterItemsStored(id); });
}

void LoadoutsPlugin::OnRegister() {
  RegisterLoadoutsTypes(OwnRegistry(), TypeNamePrefix());
  RegisterLoadoutsEndpoints(OwnRegistry(), DocumentationTags(), client_, injection_);
}

bool LoadoutsPlugin::OnInitialize() {
  SubscribeUpstream(*this, state_, injection_);
  // A state built without one of the resources would serve requests for the wrong player or place.
  return LostInitialValues() == 0;
}

}  // namespace Quarn::Client::Loadouts
