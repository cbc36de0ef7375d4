// BridgeTestPlugin: a small plugin built on PluginBase, loaded in-process by the stand-in host core to
// exercise the host bridge the way a real plugin uses it.
//
// It registers two types (Gadget, a structure, and Shade, an enumeration) and, in OnInitialize, runs
// what the test set up in NextBridgeTestSetup() before loading it. Tests reach the loaded object with
// LoadedBridgeTestPlugin(host) and call its bridge operations as the plugin's own code would.

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/host_core.h"
#include "sdk/host/plugin_base.h"

namespace Quarn::BridgeTest {

enum class Shade : std::int32_t { Light = 0, Dark = 1 };

struct Gadget {
  std::string name;
  std::int32_t count = 0;
  Shade shade = Shade::Light;
};

class BridgeTestPlugin;

// What the next loaded plugin does at its hooks.
struct PluginSetup {
  std::function<bool(BridgeTestPlugin&)> onInitialize;  // answers OnInitialize; true when unset
  std::function<void(BridgeTestPlugin&)> onShutdown;    // runs when Shutdown starts unregistering
  std::function<void()> onDestroy;                      // runs when the plugin is destroyed
};

// The setup the entry hands to each plugin it creates; reset it between tests.
[[nodiscard]] PluginSetup& NextBridgeTestSetup();

class BridgeTestPlugin : public PluginBase {
 public:
  BridgeTestPlugin();
  ~BridgeTestPlugin() override;

  void OnRegister() override;
  bool OnInitialize() override;
  void UnregisterAll() override;

 private:
  PluginSetup setup_;
};

inline constexpr const char* kBridgeTestShortName = "gox-test";

// The plugin's entry, as a module would export it.
std::uint32_t BridgeTestPluginEntry(PluginRegistration* registration);

// The plugin object host loaded. REQUIRES: host loaded it with BridgeTestPluginEntry.
[[nodiscard]] BridgeTestPlugin& LoadedBridgeTestPlugin(const GoxHost::HostCore& host);

}  // namespace Quarn::BridgeTest

namespace Quarn {
template <>
struct TypeTraits<BridgeTest::Shade> : EnumTypeTraits<0x5A0DE001> {};
template <>
struct TypeTraits<BridgeTest::Gadget> : StructTypeTraits<0x6AD6E701> {};
}  // namespace Quarn
