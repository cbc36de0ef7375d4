// LoadoutsState: what the loadouts plugin knows about the player, the region and its own configuration,
// as other plugins' resources told it. Only the subscription callbacks write it; the operations read each
// member at the step that needs it. It has no lock: everything runs on the host's plugin thread.

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "loadouts/loadouts_types.h"

namespace Quarn::Client::Loadouts {

// Header names and values of defaultHeaders; one value per name.
using HeaderTable = std::map<std::string, std::string>;

struct LoadoutsState {
  bool enabled = false;  // the feature switch; every operation refuses to work while it is false
  std::vector<std::string> validInventoryTypes;
  std::string inventoryServiceUrl;  // base URL of the remote inventory service
  std::string loadoutsServiceUrl;   // base URL of the remote loadouts service
  HeaderTable defaultHeaders;       // attached to every remote-service request
  bool preferencesReady = false;
  std::string serviceLocation;  // the region's service location, sent as the location parameter
  std::uint64_t accountId = 0;
  std::string puuid;
  bool sessionReady = false;  // the login session counts as established
  Api::GameflowPhase lastGameflowPhase = Api::GameflowPhase::None;
  bool lastTeamBuilderManaged = false;  // the queue flag stored with lastGameflowPhase
};

}  // namespace Quarn::Client::Loadouts
