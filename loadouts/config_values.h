// How the plugin reads loosely typed values of other plugins' resources (the region and the platform
// configuration): as text and as a truth value.

#pragma once

#include <string>

#include "sdk/binding/binding_property.h"

namespace Quarn::Client::Loadouts {

// A string's own text; a signed or unsigned integer in decimal; a float as "%f" writes it; a bool as
// "true" or "false". Every other kind, a missing member included, gives the empty text (unlike
// BindingProperty::AsText, blobs and enums give nothing here).
[[nodiscard]] std::string TextForm(const BindingProperty& value);

// A bool as it is; a number or an enum when not zero; a string only when it is exactly "true" or "1"
// ("TRUE" and "yes" are false); a blob, collection or structure when not empty; the empty value false.
[[nodiscard]] bool Truth(const BindingProperty& value);

}  // namespace Quarn::Client::Loadouts
