// Call mapping: how the front door finds a module endpoint for an HTTP request and turns the module's
// answer into an HTTP answer. Plain functions, no HTTP library: the front door does the wire.
//
// Answers:
//   - a result: its JSON with the response's status (200 when the module left it 0);
//   - an empty result (JSON null, or an empty stream): 204 without a body;
//   - a failure: {"httpStatus": N, "message": "..."} with status N, or 400 when the failure carries no
//     error status (0, or anything outside 400..599);
//   - an answer that broke the boundary's rules (unreadable body, broken stream): 502 in the same shape.
// Texts from the module or the request are made valid UTF-8 before they go into JSON.

#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/api_description.h"
#include "host/endpoint_call.h"
#include "host/endpoint_match.h"
#include "host/external_transport.h"

namespace GoxHostApp {

// What the front door sends back.
struct HttpAnswer {
  int status = 200;
  std::string contentType;  // empty with an empty body
  std::string body;
  GoxHost::HeaderList headers;
};

inline constexpr const char* kJsonContentType = "application/json";

// {"httpStatus": status, "message": message} with that status.
[[nodiscard]] HttpAnswer FailureAnswer(int status, std::string_view message);
// A JSON body with status 200 (or `status`).
[[nodiscard]] HttpAnswer JsonAnswer(std::string json, int status = 200);

// The method code of an HTTP method name; kHttpMethodOther for any other name.
[[nodiscard]] std::uint32_t MethodCode(std::string_view name);

// Endpoint lookup by concrete path is shared with the test host core, which routes requests between
// modules the same way.
using GoxHost::FindEndpoint;
using GoxHost::MatchTemplate;

// The HTTP answer for what the module wrote into its response record.
[[nodiscard]] HttpAnswer AnswerFromCall(const GoxHost::CallResponse& response);

// printf-style formatting into a string of at most 1023 characters.
template <class... Arguments>
[[nodiscard]] std::string FormatText(const char* format, Arguments... arguments) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, arguments...);
  return buffer;
}

// `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD.
[[nodiscard]] std::string ValidUtf8(std::string_view text);

// Response headers the module may not set, because the front door owns the framing.
[[nodiscard]] bool IsFramingHeader(std::string_view name);

}  // namespace GoxHostApp
