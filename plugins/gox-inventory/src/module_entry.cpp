// The module's one exported entry.

#include <cstdint>

#include "inventory_plugin.h"
#include "plugin/plugin_abi.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t load_gox_inventory(
    PluginRegistration* registration) {
  return Quarn::LoadPlugin<GoxInventory::InventoryPlugin>(registration, GoxInventory::kShortName);
}
