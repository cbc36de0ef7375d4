#include "sdk/binding/field_converter.h"

#include "sdk/binding/conversion_result.h"

namespace Quarn {

// Defined here so that the converter's virtual table has one home.
FieldConverter::~FieldConverter() = default;

void FieldConverter::ToPropertyAt(ConversionResult& status, BindingProperty& target, const void* member,
                                  const TypeInfo* typeInfo, const TypeRegistry& registry) const {
  if (!status.Ok()) return;
  ConversionResult converted;
  ToProperty(converted, member, typeInfo, registry);
  if (!converted.Ok()) return status.Fail(converted.Message());
  target = std::move(converted.Value());
}

}  // namespace Quarn
