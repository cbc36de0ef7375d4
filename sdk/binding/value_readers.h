// Value readers: the tolerant reading of one BindingProperty into a native value, shared by the member
// converters, the call-argument binding and the decoders.
//
// Reading accepts a fixed set of neighbouring forms: numbers from texts (automatic base for integers,
// the classic locale for floating point), booleans from "1"/"0", enumerators from names or numbers.
// Every refusal fails the ConversionResult with one of the messages below and returns 0, false or the
// empty text. Every reader returns at once, leaving its target unchanged, when the result has already
// failed, so the first failure of a walk is the one reported.
//
// name is the member or argument name the messages quote; top-level callers pass their own label.

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {

struct TypeInfo;
class TypeRegistry;

// The messages of refused reads; %N placeholders are filled by FormatString.
// %1 name.
inline constexpr const char* kValueRequiredMessage = "A value for '%1' is required.";
// %1 text, %2 name.
inline constexpr const char* kBoolFormatMessage =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", "
    "\"0\".";
// %1 name, %2 input kind.
inline constexpr const char* kBoolKindMessage =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
// %1 value, %2 name, %3 type name.
inline constexpr const char* kNumberFormatMessage = "Value %1 for '%2' of type %3 is in an incorrect format";
// %1 value, %2 name, %3 type name.
inline constexpr const char* kNumberRangeMessage = "Value %1 for '%2' of type %3 is out of range";
// %1 name, %2 type name, %3 input kind.
inline constexpr const char* kNumberKindMessage =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
// %1 value, %2 enumeration name, %3 name.
inline constexpr const char* kEnumValueMessage = "%1 is not a valid %2 enumeration value for '%3'.";
// %1 name, %2 input kind.
inline constexpr const char* kEnumKindMessage =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
// %1 value, %2 name.
inline constexpr const char* kEnumNameMessage = "%1 is not a valid enumeration value for '%2'.";
// %1 name.
inline constexpr const char* kStringKindMessage =
    "Couldn't assign value to '%1' because the input is not a string.";
// %1 name.
inline constexpr const char* kVectorKindMessage =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
// %1 name.
inline constexpr const char* kObjectOutOfMemoryMessage = "Couldn't copy the value of '%1': out of memory.";
inline constexpr const char* kMapKindMessage =
    "Couldn't assign value to '%1' of type map because the input not a structure.";

// Fails result with templ rendered with the arguments.
template <class... Args>
void FailWith(ConversionResult& result, const char* templ, const Args&... args) {
  result.Fail(FormatString(templ, args...));
}

// bool input as is; the texts "true"/"1" and "false"/"0" exactly.
[[nodiscard]] bool ReadBool(ConversionResult& result, const BindingProperty& input, std::string_view name);

// A signed integer within [minimum, maximum]. Texts read as strtoll with base 0 in the classic locale;
// floating point truncates toward zero; NaN and infinities are out of range. typeName is the target's
// type as messages print it, e.g. "int32".
[[nodiscard]] std::int64_t ReadSigned(ConversionResult& result, const BindingProperty& input,
                                      std::string_view name, std::int64_t minimum, std::int64_t maximum,
                                      std::string_view typeName);

// An unsigned integer up to maximum. Texts read as strtoull with base 0; a text with a minus sign is out
// of range (strtoull would wrap it around).
[[nodiscard]] std::uint64_t ReadUnsigned(ConversionResult& result, const BindingProperty& input,
                                         std::string_view name, std::uint64_t maximum,
                                         std::string_view typeName);

// A double within [minimum, maximum]. Texts read as strtod in the classic locale (hexadecimal, "inf" and
// "nan" included); the empty text is 0. A text that overflows the double range is out of range; one
// that underflows reads as the nearest double.
[[nodiscard]] double ReadFloating(ConversionResult& result, const BindingProperty& input,
                                  std::string_view name, double minimum, double maximum,
                                  std::string_view typeName);

// A string's text, or an enum value's enumerator name looked up in registry (a null registry knows
// no names).
[[nodiscard]] std::string ReadString(ConversionResult& result, const BindingProperty& input,
                                     std::string_view name, const TypeRegistry* registry = nullptr);

// The value of an enumerator of type: from an enum value, an integer (its low 32 bits) or a text that is
// an enumerator's name or an integer. A null type (never registered) has no enumerators.
[[nodiscard]] std::int32_t ReadEnum(ConversionResult& result, const BindingProperty& input,
                                    std::string_view name, const TypeInfo* type);

// Resets target and copies input into it. Every kind is accepted, empty included.
void ReadObject(ConversionResult& result, BindingProperty& target, const BindingProperty& input,
                std::string_view name);

// Empties target, then reads a collection into it: one default element per input element, each
// non-empty input element read by readElement(result, element, input element, name) in index order
// until the first failure. Elements read before a failure stay.
template <class Element, class ReadElement>
void ReadVector(ConversionResult& result, std::vector<Element>& target, const BindingProperty& input,
                std::string_view name, ReadElement&& readElement) {
  if (!result.Ok()) return;
  target.clear();
  if (input.Kind() != BindingKind::Collection) return FailWith(result, kVectorKindMessage, name);
  target.resize(input.Count());
  const auto elements = input.Elements();
  for (std::size_t i = 0; i < elements.size() && result.Ok(); ++i) {
    if (elements[i].Kind() != BindingKind::Empty) readElement(result, target[i], elements[i], name);
  }
}

// Clears target, then reads a structure into it: each non-empty field is read by readElement into the
// entry of its name, in name order, until the first failure.
template <class Element, class ReadElement>
void ReadMap(ConversionResult& result, std::map<std::string, Element>& target, const BindingProperty& input,
             std::string_view name, ReadElement&& readElement) {
  if (!result.Ok()) return;
  target.clear();
  if (input.Kind() != BindingKind::Structure) return FailWith(result, kMapKindMessage, name);
  for (const auto field : input.Fields()) {
    if (!result.Ok()) break;
    if (field.value.Kind() == BindingKind::Empty) continue;
    readElement(result, target[std::string(field.name)], field.value, name);
  }
}

}  // namespace Quarn
