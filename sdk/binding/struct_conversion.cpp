#include "sdk/binding/struct_conversion.h"

#include "sdk/binding/type_registry.h"
#include "sdk/binding/value_readers.h"

namespace Quarn {
namespace {

// %1 name.
constexpr const char* kUnregisteredInputMessage =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.";
// %1 name, %2 type name.
constexpr const char* kNotStructureMessage =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// %1 name, %2 type name, %3 field name.
constexpr const char* kRequiredFieldMessage =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required field '%3'.";
constexpr const char* kUnregisteredNativeMessage =
    "Couldn't convert native value because it's an unregistered structure.";

}  // namespace

bool IsEmptyValue(const BindingProperty& value) noexcept {
  switch (value.Kind()) {
    case BindingKind::Empty:
      return true;
    case BindingKind::Bool:
      return !value.GetBool(false);
    case BindingKind::Signed:
      return value.GetSigned(1) == 0;
    case BindingKind::Unsigned:
      return value.GetUnsigned(1) == 0;
    case BindingKind::Float:
      return value.GetFloat(1) == 0.0;
    case BindingKind::Enum:
      return value.GetEnum({.value = 1}).value == 0;
    default:
      return value.Count() == 0;
  }
}

void StructToProperty(ConversionResult& result, const void* structure, const TypeInfo* type,
                      const TypeRegistry& registry) {
  if (!result.Ok()) return;
  result.Init();
  ConversionResult status;
  StructToPropertyAt(status, result.Value(), structure, type, registry);
  if (!status.Ok()) result.Fail(status.Message());
}

void StructToPropertyAt(ConversionResult& status, BindingProperty& target, const void* structure,
                        const TypeInfo* type, const TypeRegistry& registry) {
  if (!status.Ok()) return;
  if (type == nullptr) return status.Fail(kUnregisteredNativeMessage);
  target.Reset();
  target.MakeStructure();
  const auto* base = static_cast<const unsigned char*>(structure);
  for (const FieldInfo& field : type->fields) {
    // A member registered without a converter has no BindingProperty form.
    if (field.converter == nullptr) continue;
    const void* member = base + field.offset;
    if ((field.flags & kFieldOmitWhenEmpty) != 0) {
      BindingProperty converted;
      field.converter->ToPropertyAt(status, converted, member, field.descriptor.typeInfo, registry);
      if (!status.Ok()) return;
      if (!IsEmptyValue(converted)) target.Field(field.name) = std::move(converted);
    } else {
      field.converter->ToPropertyAt(status, target.Field(field.name), member, field.descriptor.typeInfo,
                                    registry);
      if (!status.Ok()) return;
    }
  }
}

void StructToNative(ConversionResult& result, void* structure, const BindingProperty& input,
                    std::string_view name, const TypeInfo* type, const TypeRegistry& registry) {
  if (!result.Ok()) return;
  if (type == nullptr) return FailWith(result, kUnregisteredInputMessage, name);
  if (input.Kind() != BindingKind::Structure) return FailWith(result, kNotStructureMessage, name, type->name);
  auto* base = static_cast<unsigned char*>(structure);
  for (const FieldInfo& field : type->fields) {
    if (!result.Ok()) return;
    const BindingProperty& value = input.Field(field.name);
    if (value.Kind() == BindingKind::Empty) {
      if ((field.flags & kFieldRequired) != 0)
        FailWith(result, kRequiredFieldMessage, name, type->name, field.name);
    } else if (field.converter != nullptr) {
      field.converter->ToNative(result, base + field.offset, value, field.name, field.descriptor.typeInfo,
                                registry);
    }
  }
}

void ReadStruct(ConversionResult& result, void* structure, const BindingProperty& input,
                std::string_view name, const TypeInfo* type, const TypeRegistry& registry) {
  if (!result.Ok()) return;
  if (input.Kind() == BindingKind::Empty) return FailWith(result, kValueRequiredMessage, name);
  StructToNative(result, structure, input, name, type, registry);
}

const TypeInfo* FindTypeInfo(const TypeRegistry& registry, std::uint32_t id) {
  return registry.FindTypeById(id);
}

}  // namespace Quarn
