// LoadoutsFixture: the loadouts plugin loaded in-process into the stand-in host core, with the other
// plugins' resources it reads (a ready login session, a token, a region and its region data, the enabled
// configuration, valid inventory types, a game flow in the lobby), the inventory plugin's signed tokens,
// a "teambuilder-draft" service behind the service proxy and a routing transport for the remote
// services. Tests change any of these before Start(), or publish changes after it.

#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host_core.h"
#include "loadouts/loadouts_plugin.h"
#include "tests/support/recording_log_target.h"
#include "tests/support/routing_transport.h"

namespace Quarn::LoadoutsTest {

inline constexpr const char* kLoadoutsBase = "https://loadouts.test";
inline constexpr const char* kInventoryBase = "https://inventory.test";
inline constexpr const char* kPuuid = "p-1";
inline constexpr const char* kLocation = "loc-euw";
inline constexpr const char* kToken = "tok";

// The plugin's entry, as the module exports it.
std::uint32_t LoadoutsEntry(PluginRegistration* registration);

// The configuration namespace with both base URLs and the given "Enabled" JSON value.
[[nodiscard]] std::string ConfigurationJson(const std::string& enabledJson = "true");
// A game-flow session JSON.
[[nodiscard]] std::string GameflowJson(const std::string& phase, bool teamBuilderManaged);

class LoadoutsFixture : public ::testing::Test {
 protected:
  LoadoutsFixture();
  void TearDown() override;

  // Loads and initialises the plugin; the host's records and the transport's calls start empty
  // afterwards.
  Client::Loadouts::LoadoutsPlugin& Start();
  // Loads and initialises the built module by its path instead; Plugin() and State() are not for it.
  void StartModule(const std::string& libraryPath);
  [[nodiscard]] Client::Loadouts::LoadoutsPlugin& Plugin() const;
  [[nodiscard]] const Client::Loadouts::LoadoutsState& State() const { return Plugin().State(); }

  // Forgets the host's records, the transport's calls and the signed-token requests.
  void ClearRecords();

  // Sets a resource before Start (no event).
  void Set(const std::string& path, const std::string& json);
  // Changes a resource after Start and delivers its event.
  void Publish(const std::string& path, const std::string& json);
  void Delete(const std::string& path);

  // Calls the endpoint of that route template and method with a concrete path and a JSON body.
  GoxHost::CallResponse Call(const char* route, std::uint32_t method, const std::string& path,
                             const std::string& body = {});

  // The host's log lines at level 2, and at level 0.
  [[nodiscard]] std::vector<std::string> Errors() const;
  [[nodiscard]] std::vector<std::string> OkayLines() const;
  // The resource events the plugin sent under "OnJsonApiEvent", as "Type uri data-json".
  [[nodiscard]] std::vector<std::string> Published() const;
  // The texts of the remote requests the plugin sent, as "METHOD url".
  [[nodiscard]] std::vector<std::string> Requests() const;

  // Scripted answers of the inventory plugin: the token of each requested type is "jwt-" + type, unless
  // signedFailure is set (answered as a 500 error) or signedOverride gives a JSON answer of its own.
  std::optional<std::string> signedFailure;
  std::optional<std::string> signedOverride;
  std::vector<std::string> signedRequests;  // each request's types, as JSON text
  // What "teambuilder-draft" answers, call by call; past the script it answers success.
  std::vector<GoxHost::ServiceAnswer> serviceAnswers;
  // Fails the region-data request when set.
  bool regionDataFails = false;

  ScopedLogger logger_;  // first: the plugin's log target goes before the logger does
  GoxHost::HostCore host_;
  std::shared_ptr<RoutingTransport> transport_ = std::make_shared<RoutingTransport>();
};

}  // namespace Quarn::LoadoutsTest
