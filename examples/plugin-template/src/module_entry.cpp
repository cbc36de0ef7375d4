// The module's one exported entry; its name matches the library's file name (libgox_template.so).

#include <cstdint>

#include "plugin/plugin_abi.h"
#include "template_plugin.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t load_gox_template(
    PluginRegistration* registration) {
  return Quarn::LoadPlugin<GoxTemplate::TemplatePlugin>(registration, GoxTemplate::kShortName);
}
