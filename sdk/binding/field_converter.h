// FieldConverter: the conversion object every registered structure member carries, moving one native
// member to and from its BindingProperty form.

#pragma once

#include <string_view>

namespace Quarn {

class BindingProperty;
class ConversionResult;
struct TypeInfo;
class TypeRegistry;

// One converter exists per native member type; it is stateless, lives for the whole process and is
// shared by every member of that type, so FieldInfo refers to it without owning it. Both operations
// return at once, leaving result untouched, when result has already failed: the first failure wins.
// typeInfo is the member's referenced registered type (TypeDescriptor::typeInfo), null for members that
// refer to none or whose type was never registered.
class FieldConverter {
 public:
  virtual ~FieldConverter();

  // Writes the BindingProperty form of the native member at member into result, after resetting result
  // to an empty value with ok set.
  virtual void ToProperty(ConversionResult& result, const void* member, const TypeInfo* typeInfo,
                          const TypeRegistry& registry) const = 0;

  // Writes the BindingProperty form of the native member into target, which may lie inside another
  // tree, so that nested members are built in place instead of being copied in. A refusal fails status,
  // whose value must not hold target; target is then left unspecified. The default goes through
  // ToProperty and copies the result into target.
  virtual void ToPropertyAt(ConversionResult& status, BindingProperty& target, const void* member,
                            const TypeInfo* typeInfo, const TypeRegistry& registry) const;

  // Reads input into the native member at member. On refusal it fails result with a message that
  // quotes name, the member or argument name (top-level callers pass their own label, e.g. "<value>").
  virtual void ToNative(ConversionResult& result, void* member, const BindingProperty& input,
                        std::string_view name, const TypeInfo* typeInfo,
                        const TypeRegistry& registry) const = 0;
};

}  // namespace Quarn
