// Failure: the result of an operation that did not succeed: a status code, a message and the named,
// typed fields the message was built from. Failures are values; nothing is thrown across operations.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "sdk/diagnostics/message_format.h"

namespace Quarn {

// Name of the field that repeats a non-zero status code among the named fields.
inline constexpr const char* kErrorCodeField = "errorCode_int";

// A failed operation. `Code()` is 0 when no status was given; callers use HTTP-like statuses (400, 500,
// 503). A failure built from a named template keeps one field per placeholder, so that a log or a host
// can read the pieces of the message without parsing it.
//
//   Failure failure(500, "Error response for {method} {url}: {error}", "GET", url, reason);
//   failure.Message();  // "Error response for GET https://... : ..."
//   failure.Fields();   // method, url, error and errorCode_int = 500
class [[nodiscard]] Failure {
 public:
  // A failure with a message and no code or fields.
  explicit Failure(std::string message) : message_(std::move(message)) {}

  // A failure with a status code and a message taken as it stands (no placeholders are read).
  Failure(std::int32_t code, std::string message) : message_(std::move(message)) { SetCode(code); }

  // A failure whose message is the named template `templ` rendered with the arguments; each placeholder
  // is recorded as a named field. REQUIRES: at least one argument (a message without arguments uses the
  // constructor above).
  template <class First, class... Rest>
  Failure(std::int32_t code, std::string_view templ, const First& first, const Rest&... rest) {
    SetCode(code);
    message_ = FormatNamed(templ, fields_, first, rest...);
  }

  // Stores a non-zero code and records it as the field "errorCode_int"; 0 changes nothing.
  void SetCode(std::int32_t code);

  [[nodiscard]] std::int32_t Code() const { return code_; }
  [[nodiscard]] const std::string& Message() const { return message_; }
  [[nodiscard]] const FieldMap& Fields() const { return fields_; }

 private:
  std::int32_t code_ = 0;
  std::string message_;
  FieldMap fields_;
};

}  // namespace Quarn
