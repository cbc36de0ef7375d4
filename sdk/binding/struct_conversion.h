// Structure conversion: a registered native structure to and from its BindingProperty form, member by
// member through the converter each FieldInfo carries.
//
// To-property builds a structure with one field per member, in registration order, leaving out members
// flagged kFieldOmitWhenEmpty whose value is empty. To-native reads the input's fields of the members'
// names; a missing or empty field leaves its member as it is, or fails when the member is flagged
// kFieldRequired; fields that name no member are ignored. The first failing member stops the walk and
// its message, which names the innermost member, is the whole failure; members converted before it keep
// their new values.

#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"

namespace Quarn {

struct TypeInfo;
class TypeRegistry;

// Writes the structure at structure, described by type, into result as a structure value. A null type
// (never registered) fails with "Couldn't convert native value because it's an unregistered structure."
void StructToProperty(ConversionResult& result, const void* structure, const TypeInfo* type,
                      const TypeRegistry& registry);

// StructToProperty into target, which may lie inside another tree; a refusal fails status, whose value
// must not hold target.
void StructToPropertyAt(ConversionResult& status, BindingProperty& target, const void* structure,
                        const TypeInfo* type, const TypeRegistry& registry);

// Reads input, which must be a structure, into the structure at structure. name labels the structure in
// messages.
void StructToNative(ConversionResult& result, void* structure, const BindingProperty& input,
                    std::string_view name, const TypeInfo* type, const TypeRegistry& registry);

// A top-level read of a structure (a request body, an element of a vector): an empty input fails as a
// missing value; anything else goes to StructToNative.
void ReadStruct(ConversionResult& result, void* structure, const BindingProperty& input,
                std::string_view name, const TypeInfo* type, const TypeRegistry& registry);

// True for the values omit-when-empty leaves out: the empty value, false, 0, 0.0, the enumerator 0, and
// texts, blobs, collections and structures without content.
[[nodiscard]] bool IsEmptyValue(const BindingProperty& value) noexcept;

// The registered type found by identifier, or null.
[[nodiscard]] const TypeInfo* FindTypeInfo(const TypeRegistry& registry, std::uint32_t id);

}  // namespace Quarn
