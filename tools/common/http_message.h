// HTTP messages as gox-host's and gox-services' handlers see them, and the small texts around them:
// percent-decoding, query parameters, the failure body every answer of theirs shares, and the head of
// an answer on the wire.

#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace GoxTools {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// A request whose header and body were read in full.
struct HttpRequest {
  std::string method;   // as sent ("GET", "PATCH", a custom token)
  std::string target;   // as sent: the path and the query, still percent-encoded
  std::string path;     // the target's path, percent-decoded ("+" stays "+")
  std::string query;    // the text after "?", as sent; empty when there is none
  HttpHeaders headers;  // as sent, in order
  std::string body;
  std::string remoteAddress;  // the client's address ("127.0.0.1", "::1")

  // The value of the first header of that name (case-insensitive); empty when there is none.
  [[nodiscard]] std::string Header(std::string_view name) const;
};

// An answer. The server adds Content-Length (or chunked framing for a stream), Connection and the
// reason phrase; headers given here must not frame the body.
struct HttpResponse {
  int status = 200;
  std::string contentType;  // sent when not empty
  std::string body;
  HttpHeaders headers;
  // Announces the body's length, sends the head alone and closes the connection: a broken answer, for
  // fault injection.
  bool cutBody = false;
};

// Percent-decodes `text`: "%XY" with two hexadecimal digits becomes that byte, anything else is kept
// as it stands; with `plusIsSpace` (query texts) "+" becomes a space.
[[nodiscard]] std::string PercentDecode(std::string_view text, bool plusIsSpace);

// The decoded name=value pairs of a query, in order ("a=1&b&a=2" gives a:1, b:"", a:2).
[[nodiscard]] std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query);

// The value of the first parameter of that name; empty when there is none.
[[nodiscard]] std::string QueryValue(const std::vector<std::pair<std::string, std::string>>& parameters,
                                     std::string_view name);

// {"httpStatus": status, "message": message}, the body of every failure.
[[nodiscard]] std::string FailureBody(int status, std::string_view message);
[[nodiscard]] HttpResponse FailureResponse(int status, std::string_view message);

// The status line and headers of `response` with the given body length, ending in the blank line.
// `chunked` frames the body as chunks instead of by length.
[[nodiscard]] std::string ResponseHead(const HttpResponse& response, std::size_t bodyLength, bool keepAlive,
                                       bool chunked = false);

// Whether `text` is a token as HTTP defines it (a method name): one or more of the token characters.
[[nodiscard]] bool IsHttpToken(std::string_view text);

}  // namespace GoxTools
