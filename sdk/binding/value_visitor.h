// ValueVisitor: the sixteen operations through which a BindingProperty walks itself. Serializers
// implement it; BindingProperty::Accept drives it.

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace Quarn {

struct TypeIdentifier;

// Receives a value depth-first. A collection arrives as BeginCollection, then BeginElement(i), the
// element's own walk and EndElement(i) for each element in index order, then EndCollection; a structure
// as BeginStructure, then BeginField(name), the field's walk and EndField(name) for each field in
// ascending name order, then EndStructure. Texts and bytes are valid only during the call.
class ValueVisitor {
 public:
  virtual ~ValueVisitor() = default;

  virtual void Empty() = 0;
  virtual void Bool(bool value) = 0;
  virtual void Signed(std::int64_t value) = 0;
  virtual void Unsigned(std::uint64_t value) = 0;
  virtual void Float(double value) = 0;
  virtual void String(std::string_view text) = 0;
  virtual void Blob(std::span<const std::uint8_t> bytes) = 0;
  virtual void Enum(std::int32_t value, const TypeIdentifier* type) = 0;
  virtual void BeginCollection(std::size_t count) = 0;
  virtual void BeginElement(std::size_t index) = 0;
  virtual void EndElement(std::size_t index) = 0;
  virtual void EndCollection() = 0;
  virtual void BeginStructure(std::size_t count) = 0;
  virtual void BeginField(std::string_view name) = 0;
  virtual void EndField(std::string_view name) = 0;
  virtual void EndStructure() = 0;
};

}  // namespace Quarn
