#include "tools/common/http_message.h"

#include <cctype>
#include <cstdio>
#include <ostream>
#include <utility>
// clang-format off
#include <boost/beast/http/status.hpp>
// clang-format on

namespace GoxTools {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (SameLetters(key, name)) return value;
  return {};
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    decoded.push_back(plusIsSpace && c == '+' ? ' ' : c);
  }
  return decoded;
}

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> parameters;
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view pair = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    parameters.emplace_back(
        PercentDecode(pair.substr(0, equals), true),
        equals == std::string_view::npos ? std::string() : PercentDecode(pair.substr(equals + 1), true));
  }
  return parameters;
}

std::string QueryValue(const std::vector<std::pair<std::string, std::string>>& parameters,
                       std::string_view name) {
  for (const auto& [key, value] : parameters)
    if (key == name) return value;
  return {};
}

std::string FailureBody(int status, std::string_view message) {
  std::string body = "{\"httpStatus\":" + std::to_string(status) + ",\"message\":\"";
  for (const char c : message) {
    if (c == '"' || c == '\\') {
      body += '\\';
      body += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      body += escaped;
    } else {
      body += c;
    }
  }
  return body + "\"}";
}

HttpResponse FailureResponse(int status, std::string_view message) {
  return {status, "application/json", FailureBody(status, message), {}, false};
}

std::string ResponseHead(const HttpResponse& response, std::size_t bodyLength, bool keepAlive, bool chunked) {
  const auto reason =
      boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(response.status));
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
  head.append(reason.data(), reason.size());
  head += "\r\n";
  if (!response.contentType.empty()) head += "Content-Type: " + response.contentType + "\r\n";
  for (const auto& [name, value] : response.headers)
    head += name + ": " + value + "\r\n";
  if (chunked)
    head += "Transfer-Encoding: chunked\r\n";
  else if (response.status >= 200 && response.status != 204 && response.status != 304)
    head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
  head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  return head;
}

bool IsHttpToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace GoxTools
