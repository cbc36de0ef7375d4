#include "sdk/diagnostics/api_version.h"

namespace Quarn {

std::string ApiVersion::ToText() const {
  std::string text = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  if (!prerelease.empty()) text += "-" + prerelease;
  if (!build.empty()) text += "+" + build;
  return text;
}

}  // namespace Quarn
