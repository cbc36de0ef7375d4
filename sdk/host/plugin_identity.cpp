#include "sdk/host/plugin_identity.h"

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

constexpr const char* kBackendPrefix = "dwx-be-";
constexpr const char* kFrontendPrefix = "dwx-fe-";
constexpr const char* kUnknownTypePrefix = "dwx-xx-";
constexpr const char* kUnknownTypeLine = "            Plugin Manager| %s";
constexpr const char* kUnknownTypeMessage =
    "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type";
constexpr const char* kUserAgentTemplate = "QuarnClient/%1 (%2)";

}  // namespace

const PluginType& BackendPluginType() {
  static const PluginType type{"backend", ""};
  return type;
}

const PluginType& FrontendPluginType() {
  static const PluginType type{"frontend", ""};
  return type;
}

PluginIdentity GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
  const char* prefix = kUnknownTypePrefix;
  if (type.name == "backend") {
    prefix = kBackendPrefix;
  } else if (type.name == "frontend") {
    prefix = kFrontendPrefix;
  } else {
    const std::string message = FormatString(kUnknownTypeMessage, shortName, type.name);
    Log(kLogLevelError, kCategoryDebug, kUnknownTypeLine, message.c_str());
  }
  return PluginIdentity{prefix + std::string(shortName), std::string(shortName), type.name, type.qualifier};
}

std::string BuildUserAgent(const ApiVersion& hostVersion, std::string_view shortName) {
  return FormatString(kUserAgentTemplate, hostVersion, shortName);
}

}  // namespace Quarn
