// Conversion between JSON and host values, the plain value records that cross the module boundary.
//
// Values the stand-in builds are always owned (texts as code 6, arrays as code 9, objects as code 10
// with owned member names) and are released with ReleaseHostValue, never by the module. Values read
// from the module are not trusted: every pointer, count and code is checked, and a value that breaks
// the rules is refused with a message instead of being followed.

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/json_value.h"
#include "plugin/plugin_abi.h"

namespace GoxHost {

// The deepest nesting of collections and structures the stand-in reads or builds.
inline constexpr std::uint32_t kMaxHostValueDepth = 512;

// Builds an owned host value from JSON: null gives code 0, booleans 1, integers that fit a signed 64-bit
// number 2, larger integers 3, other numbers 4, strings 6, arrays 9 and objects 10 (members in the
// object's order). REQUIRES: nesting within kMaxHostValueDepth; deeper parts become code 0.
//
//   HostValue value = ToHostValue(JsonValue::Parse(R"({"id":7})")->Get());
//   ...                       // hand it to the module for the duration of a call
//   ReleaseHostValue(&value);
[[nodiscard]] HostValue ToHostValue(const rapidjson::Value& json);

// Releases a host value built by ToHostValue and zeroes it to code 0. Borrowed codes (5, 7) release
// nothing.
void ReleaseHostValue(HostValue* value);

// The outcome of reading a host value: the JSON value, or the reason it was refused.
struct HostValueReading {
  std::optional<JsonValue> value;
  std::string error;  // empty on success
};

// Reads a host value built by anyone into JSON. Texts (5, 6) become strings, byte runs (7, 8) strings
// of their base64 form, collections arrays, structures objects (a later member of the same name
// replaces an earlier one). Refused, with a message: an unknown code, a null pointer with a non-zero
// count, a null text or member name, a float that is not finite, nesting beyond kMaxHostValueDepth.
[[nodiscard]] HostValueReading FromHostValue(const HostValue& value);

}  // namespace GoxHost
