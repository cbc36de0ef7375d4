// The module's single exported entry: the host core calls it once with the address of its registration
// record, and gets back the plugin object, its function table, its short name and its API description,
// or a non-zero answer with the record untouched when the plugin refuses to load.

#include <cstdint>

#include "loadouts/loadouts_plugin.h"
#include "plugin/plugin_abi.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t load_gox_loadouts(
    PluginRegistration* registration) {
  return Quarn::LoadPlugin<Quarn::Client::Loadouts::LoadoutsPlugin>(registration, "gox-loadouts");
}
