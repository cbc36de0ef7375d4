// Deep comparison of two BindingProperty trees.

#pragma once

#include "sdk/binding/binding_property.h"

namespace Quarn {

// True when both values have the same kind and the same content: scalars equal (floats by value, with
// NaN equal to NaN), texts and bytes equal, enums equal in value and type, collections equal element by
// element, structures equal in names and fields. The trees' contexts do not matter.
[[nodiscard]] bool SameValue(const BindingProperty& left, const BindingProperty& right);

}  // namespace Quarn
