// ConversionResult: a value with a success flag, the outcome of every conversion between native values,
// BindingProperty trees and encoded documents.

#pragma once

#include <string_view>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/failure.h"

namespace Quarn {

// A fresh result is an empty root with ok set. A failed one has ok clear and holds a structure whose
// single field "error" is the message. Conversions return at once, untouched, when handed a result
// that already failed, so the first failure of a walk is the one reported.
class ConversionResult {
 public:
  ConversionResult() = default;
  ConversionResult(const ConversionResult&) = delete;
  ConversionResult(ConversionResult&& other) noexcept;
  // Copies the flag, then moves the value.
  ConversionResult& operator=(ConversionResult&& other) noexcept;
  ConversionResult& operator=(const ConversionResult&) = delete;

  // Back to the fresh state: an empty value, ok set.
  void Init() noexcept;

  // Clears ok and replaces the value by the structure {"error": message}.
  void Fail(std::string_view message) noexcept;

  [[nodiscard]] bool Ok() const noexcept { return ok_; }

  // The empty text when ok; else the "error" field's text, or the empty text when it is missing or not
  // a string. Valid until the value changes.
  [[nodiscard]] std::string_view Message() const noexcept;

  [[nodiscard]] BindingProperty& Value() noexcept { return value_; }
  [[nodiscard]] const BindingProperty& Value() const noexcept { return value_; }

 private:
  BindingProperty value_;
  bool ok_ = true;
};

// The failure a failed conversion reports: its message alone, with no code.
[[nodiscard]] inline Failure FailureOf(const ConversionResult& result) {
  return Failure(std::string(result.Message()));
}

}  // namespace Quarn
