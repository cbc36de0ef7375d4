#include "sdk/binding/field_converter.h"

namespace Quarn {

// Defined here so that the converter's virtual table has one home.
FieldConverter::~FieldConverter() = default;

}  // namespace Quarn
