// The plugin's names: its type, its identity (full name, short name, type texts) and the user-agent text
// it sends with external requests.

#pragma once

#include <string>
#include <string_view>

#include "sdk/diagnostics/api_version.h"

namespace Quarn {

// The kind of a plugin: a type name and a qualifier.
struct PluginType {
  std::string name;
  std::string qualifier;
};

// The two plugin types there are.
[[nodiscard]] const PluginType& BackendPluginType();   // ("backend", "")
[[nodiscard]] const PluginType& FrontendPluginType();  // ("frontend", "")

// Who the plugin is. The short name is what the host core receives at load and what every log and
// trace line starts with; the full name adds the type's prefix.
struct PluginIdentity {
  std::string fullName;
  std::string shortName;
  std::string typeName;
  std::string typeQualifier;
};

// The identity of a plugin from its short name and type. The full name is "dwx-be-" (backend),
// "dwx-fe-" (frontend) or, for any other type name, "dwx-xx-" followed by the short name; an unknown
// type name is also logged as an error. Example: ("gox-loadouts", backend) gives "dwx-be-gox-loadouts".
[[nodiscard]] PluginIdentity GetFullNameFromShortNameAndType(std::string_view shortName,
                                                             const PluginType& type);

// "QuarnClient/<host version> (<short name>)", e.g. "QuarnClient/18.0.0 (gox-loadouts)".
[[nodiscard]] std::string BuildUserAgent(const ApiVersion& hostVersion, std::string_view shortName);

}  // namespace Quarn
