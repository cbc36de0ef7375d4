// Small text and JSON helpers the services' units share.

#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "host/json_value.h"

namespace GoxServices {

// printf-style formatting of a message template (at most 1023 characters).
template <class... Arguments>
[[nodiscard]] std::string Format(const char* format, Arguments... arguments) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, arguments...);
  return buffer;
}

// A JSON string value that owns a copy of `text`.
[[nodiscard]] inline rapidjson::Value JsonString(std::string_view text,
                                                 rapidjson::MemoryPoolAllocator<>& allocator) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// What a service answers: a status and a JSON body (empty for 204).
struct ServiceAnswer {
  int status = 200;
  std::string body;
};

// The failure body every service answers with: {"httpStatus": N, "message": "..."}.
[[nodiscard]] std::string FailureJson(int status, std::string_view message);
[[nodiscard]] inline ServiceAnswer FailureAnswer(int status, std::string_view message) {
  return {status, FailureJson(status, message)};
}

// How deep a request body's arrays and objects may nest. The JSON parser and the walks over a parsed
// value recurse once per level, so a body of a million "[" must be refused before it is parsed.
inline constexpr int kMaxJsonDepth = 64;

// The JSON value of a request body; nothing when it is not one JSON value or nests deeper than
// kMaxJsonDepth.
[[nodiscard]] std::optional<GoxHost::JsonValue> ParseRequestJson(std::string_view text);

// Seconds since the epoch, from the clock.
[[nodiscard]] std::int64_t SecondsNow();

}  // namespace GoxServices
