// The module's single exported entry. The host core calls it once with the address of its registration
// record; until the plugin object and its load sequence exist, the entry refuses to load and leaves the
// record untouched, which the host core reads as "not loaded".

#include <cstdint>

#include "plugin/plugin_abi.h"

// Declared with the record type of PluginLoadEntry: a host calls it through that pointer type, and a
// call through a pointer of another function type is undefined.
extern "C" __attribute__((visibility("default"))) std::uint32_t load_gox_loadouts(
    PluginRegistration* registration) {
  (void)registration;
  return 1;
}
