// PluginBase: a plugin object the host core can drive. It runs the load sequence (version check,
// identity, the bridge's types, the plugin's registration hook, the API description), answers the
// three PluginApi functions (Initialize, Shutdown, GetMemoryStats), and forwards the bridge's host
// operations to the host core's function table.
//
// A plugin derives from it, registers its types and endpoints in OnRegister (the host table is not
// known yet, so OnRegister reaches only the type registry) and subscribes to resources in
// OnInitialize. The module's entry creates the plugin with LoadPlugin:
//
//   extern "C" std::uint32_t load_gox_loadouts(PluginRegistration* registration) {
//     return Quarn::LoadPlugin<LoadoutsPlugin>(registration, "gox-loadouts");
//   }

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_abi.h"
#include "sdk/binding/type_registry.h"
#include "sdk/diagnostics/api_version.h"
#include "sdk/endpoints/api_description.h"
#include "sdk/host/app_module.h"
#include "sdk/host/plugin_identity.h"
#include "sdk/host/plugin_log_target.h"

namespace Quarn {

// The plugin-API version this module speaks.
[[nodiscard]] const ApiVersion& PluginApiVersion();

// Whether a host core at `host` can drive a plugin at `plugin`: equal majors, and the host's (minor,
// patch) not below the plugin's, minor first. The texts take no part.
[[nodiscard]] bool IsCompatible(const ApiVersion& host, const ApiVersion& plugin);

class PluginBase : public AppModule {
 public:
  PluginBase();
  ~PluginBase() override;

  // Slots 4 to 12: HostApi entries 0 to 8, in the same order. Without a host table (before Initialize,
  // after Shutdown) they do nothing, except that requests are answered as failed.
  void HostRequest(PluginResponse* response, const PluginRequest* request) override;
  void HostExternalRequest(PluginExternalResponse* response, const PluginExternalRequest* request) override;
  void HostSendEvent(const PluginEventRecord* event) override;
  void HostRegisterEvent(const char* name, std::uint32_t hostHandle, PluginEventCallback callback,
                         void* context, std::uint32_t flag) override;
  void HostUnregisterEvent(const char* name, std::uint32_t hostHandle) override;
  void HostReserved(std::uint32_t a, std::uint32_t b, std::uint32_t c, double d, std::uint32_t e) override;
  void Yield() override;
  void BeginWait(const char* label, std::uint32_t flag) override;
  void EndWait() override;

  // Slot 13: the plugin's registration hook; registers nothing here.
  virtual void OnRegister();
  // Slot 14: the plugin's start hook; answers whether the plugin started.
  virtual bool OnInitialize();

  // Runs the load sequence and fills the registration record. Answers 0 when loaded; non-zero, with the
  // record untouched and OnRegister not run, when the host's version is incompatible (reported as
  // "ALE-EECF0606").
  [[nodiscard]] std::uint32_t Load(PluginRegistration* registration, std::string_view shortName);

  // The three PluginApi entries: Initialize stores the host context, routes logging to the host, builds
  // the user agent, registers the service-proxy events and runs OnInitialize; Shutdown marks the plugin
  // finalizing, unregisters everything, lets go of the host table and destroys the plugin (at once, or,
  // when it arrives during a Yield, once the host's calls into the plugin on the stack have returned;
  // meanwhile the plugin reaches nothing and its awaits give up); GetMemoryStats reads the module heap's
  // counters. None lets an exception out.
  [[nodiscard]] static const PluginApi& Api();

  [[nodiscard]] const PluginIdentity& Identity() const { return identity_; }
  [[nodiscard]] const ApiVersion& HostVersion() const { return hostVersion_; }
  [[nodiscard]] const std::string& TypeNamePrefix() const { return typeNamePrefix_; }
  [[nodiscard]] const std::vector<std::string>& DocumentationTags() const { return documentationTags_; }
  [[nodiscard]] TypeRegistry& OwnRegistry() { return ownRegistry_; }
  [[nodiscard]] const std::string& UserAgent() const { return userAgent_; }

 protected:
  // Initialize's work; answers OnInitialize's result.
  bool Start(const HostContext* context);

  // The host table; null before Initialize.
  [[nodiscard]] const HostApi* Host() const { return hostApi_; }

 private:
  ApiVersion hostVersion_;
  PluginIdentity identity_;
  // Copied from the HostContext at Initialize: the host need not keep that record alive afterwards.
  const HostApi* hostApi_ = nullptr;
  std::unique_ptr<PluginLogTarget> logTarget_;
  std::vector<std::string> documentationTags_;
  std::string typeNamePrefix_;
  TypeRegistry ownRegistry_;
  std::unique_ptr<ApiDescription> description_;  // after the registry it describes, so destroyed first
};

// Creates a Plugin (a PluginBase) and runs its load sequence with shortName; the host core owns the
// plugin from a successful return until Shutdown. Answers 0 when loaded, non-zero when the plugin
// refused or could not be created. Lets no exception out.
template <class Plugin>
std::uint32_t LoadPlugin(PluginRegistration* registration, std::string_view shortName) noexcept {
  if (registration == nullptr) return 1;
  try {
    auto plugin = std::make_unique<Plugin>();
    const std::uint32_t refused = plugin->Load(registration, shortName);
    if (refused != 0) return refused;
    plugin.release();  // the host core owns it now; Shutdown destroys it
    return 0;
  } catch (...) {
    return 1;
  }
}

}  // namespace Quarn
