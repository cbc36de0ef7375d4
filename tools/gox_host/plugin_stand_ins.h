// PluginStandIns: the other plugins a loadouts module talks to, standing in inside gox-host.
//
//   - resources of the login, sign-on, region, data-store, player-preferences, platform-configuration
//     and game-flow plugins, from embedded defaults and an optional fixtures file;
//   - what the player owns, for the gox-inventory module that signs it: the resource
//     "/gox-host/v1/inventory-fixture", {"items": {type: [item ids]}, "tokenLifetimeSeconds": N};
//   - the "teambuilder-draft" service behind the service proxy: "setGameCustomizationV1" with the
//     payload {"prefix", "signedJWT"}; the token's signature is verified, the call answered with success
//     or a failure, and recorded.
//
// Fixtures file (JSON; every member optional):
//   {
//     "resources": {"/gox-gameflow/v1/session": {...}, "/quarnclient/region-locale": null},
//     "inventory": {"EMOTE": [10, 11]},
//     "tokenLifetimeSeconds": 3600
//   }
// A resource given replaces the default of its path (null removes it); "inventory" replaces the
// default inventory as a whole.
//
// Everything here runs on the plugin thread; nothing is locked.

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_core.h"
#include "host/json_value.h"

namespace GoxHostApp {

inline constexpr const char* kSignedInventoryPath = "/gox-inventory/v1/signedInventory";
inline constexpr const char* kInventoryFixturePath = "/gox-host/v1/inventory-fixture";
inline constexpr const char* kLoginSessionPath = "/gox-login/v1/session";
inline constexpr const char* kLoadoutsNamespacePath = "/gox-platform-config/v1/namespaces/Loadouts";
inline constexpr const char* kTeamBuilderService = "teambuilder-draft";
inline constexpr const char* kGameCustomizationMethod = "setGameCustomizationV1";

// What the service-proxy stand-in received, as GET /admin/game-customization shows it.
struct GameCustomizationCall {
  std::string service;
  std::string method;
  std::string payload;  // as received
  bool accepted = false;
  std::string error;          // why it was refused
  GoxHost::JsonValue claims;  // of an accepted token
};

class PluginStandIns {
 public:
  // Calls kept for GET /admin/game-customization; older ones are forgotten.
  static constexpr std::size_t kMaxRecordedCalls = 200;

  // `now` gives seconds since the epoch (the clock by default).
  explicit PluginStandIns(std::string secret, std::function<std::int64_t()> now = {});

  // Applies a fixtures file's text over the defaults; the reason when it is not a valid fixtures file
  // (nothing is applied then).
  [[nodiscard]] std::optional<std::string> ApplyFixtures(std::string_view text);
  // Points both service URLs of the Loadouts configuration namespace at `url`.
  void SetServicesUrl(const std::string& url);

  // Stores the resources (without events: the module is not loaded yet) and installs the providers
  // and the service in `host`. `host` must outlive nothing here: the stand-ins read it only while it
  // calls them.
  void Install(GoxHost::HostCore& host);

  [[nodiscard]] const std::map<std::string, GoxHost::JsonValue>& Resources() const { return resources_; }
  [[nodiscard]] const std::deque<GameCustomizationCall>& GameCustomizationCalls() const { return calls_; }
  // The calls as a JSON array of {service, method, payload, accepted, error, claims}.
  [[nodiscard]] GoxHost::JsonValue GameCustomizationJson() const;

  // The value of kInventoryFixturePath: the inventory and the token lifetime of the fixtures.
  [[nodiscard]] GoxHost::JsonValue InventoryFixture() const;
  // The service's answer itself, for tests.
  [[nodiscard]] GoxHost::ServiceAnswer Service(const GoxHost::ServiceCall& call);

 private:
  std::string secret_;
  std::function<std::int64_t()> now_;
  std::int64_t tokenLifetime_ = 3600;
  std::map<std::string, GoxHost::JsonValue> resources_;
  std::map<std::string, std::vector<std::int64_t>> inventory_;
  std::deque<GameCustomizationCall> calls_;
};

}  // namespace GoxHostApp
