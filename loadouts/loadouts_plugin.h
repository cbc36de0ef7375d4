// LoadoutsPlugin: the gox-loadouts plugin object the module's entry creates.

#pragma once

#include "sdk/host/plugin_base.h"

namespace Quarn {

// The loadouts plugin. Its types, endpoints and subscriptions join through OnRegister and OnInitialize.
class LoadoutsPlugin : public PluginBase {};

}  // namespace Quarn
