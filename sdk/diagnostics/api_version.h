// ApiVersion: the plugin-API version exchanged with the host core at load, and its text form.

#pragma once

#include <cstdint>
#include <string>

namespace Quarn {

// A plugin-API version: three numbers and two optional texts. Only the numbers cross the module
// boundary; the texts are empty for versions read from the host core.
struct ApiVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  // "major.minor.patch", then "-" and the prerelease text and "+" and the build text when they are not
  // empty. Example: {18, 0, 0} reads "18.0.0".
  [[nodiscard]] std::string ToText() const;
};

}  // namespace Quarn
