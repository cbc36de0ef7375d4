#include "tests/support/bridge_test_plugin.h"

#include <cstddef>

namespace Quarn::BridgeTest {

PluginSetup& NextBridgeTestSetup() {
  static PluginSetup setup;
  return setup;
}

BridgeTestPlugin::BridgeTestPlugin() : setup_(NextBridgeTestSetup()) {}

BridgeTestPlugin::~BridgeTestPlugin() {
  if (setup_.onDestroy) setup_.onDestroy();
}

void BridgeTestPlugin::OnRegister() {
  OwnRegistry().RegisterType<Shade>("Shade").AddEnumValue("Light", 0).AddEnumValue("Dark", 1);
  OwnRegistry()
      .RegisterType<Gadget>("Gadget")
      .AddField<std::string>("name", offsetof(Gadget, name))
      .AddField<std::int32_t>("count", offsetof(Gadget, count))
      .AddField<Shade>("shade", offsetof(Gadget, shade));
}

bool BridgeTestPlugin::OnInitialize() {
  return setup_.onInitialize ? setup_.onInitialize(*this) : true;
}

void BridgeTestPlugin::UnregisterAll() {
  if (setup_.onShutdown) setup_.onShutdown(*this);
  PluginBase::UnregisterAll();
}

std::uint32_t BridgeTestPluginEntry(PluginRegistration* registration) {
  return LoadPlugin<BridgeTestPlugin>(registration, kBridgeTestShortName);
}

BridgeTestPlugin& LoadedBridgeTestPlugin(const GoxHost::HostCore& host) {
  return *static_cast<BridgeTestPlugin*>(host.LastHandshake().record.plugin);
}

}  // namespace Quarn::BridgeTest
