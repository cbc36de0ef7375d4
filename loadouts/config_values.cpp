#include "loadouts/config_values.h"

#include <cstdio>

namespace Quarn::Client::Loadouts {

std::string TextForm(const BindingProperty& value) {
  switch (value.Kind()) {
    case BindingKind::String:
      return std::string(value.GetString({}));
    case BindingKind::Signed:
      return std::to_string(value.GetSigned(0));
    case BindingKind::Unsigned:
      return std::to_string(value.GetUnsigned(0));
    case BindingKind::Float: {
      const double number = value.GetFloat(0);
      const int length = std::snprintf(nullptr, 0, "%f", number);
      std::string text(static_cast<std::size_t>(length), '\0');
      std::snprintf(text.data(), text.size() + 1, "%f", number);
      return text;
    }
    case BindingKind::Bool:
      return value.GetBool(false) ? "true" : "false";
    default:
      return {};
  }
}

bool Truth(const BindingProperty& value) {
  switch (value.Kind()) {
    case BindingKind::Bool:
      return value.GetBool(false);
    case BindingKind::Signed:
      return value.GetSigned(0) != 0;
    case BindingKind::Unsigned:
      return value.GetUnsigned(0) != 0;
    case BindingKind::Float:
      return value.GetFloat(0) != 0;
    case BindingKind::String: {
      const std::string_view text = value.GetString({});
      return text == "true" || text == "1";
    }
    case BindingKind::Enum:
      return value.GetEnum({}).value != 0;
    case BindingKind::Blob:
    case BindingKind::Collection:
    case BindingKind::Structure:
      return value.Count() != 0;
    default:
      return false;
  }
}

}  // namespace Quarn::Client::Loadouts
