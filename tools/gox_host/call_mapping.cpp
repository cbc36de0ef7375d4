#include "tools/gox_host/call_mapping.h"

#include <strings.h>

#include "host/json_value.h"

namespace GoxHostApp {
namespace {

constexpr const char* kBrokenAnswer = "the module's answer could not be read: %s";
constexpr const char* kBadStatus = "the module answered with the status %d";
constexpr int kBadGateway = 502;

struct MethodEntry {
  std::string_view name;
  std::uint32_t code;
};
constexpr MethodEntry kMethods[] = {
    {"DELETE", kHttpMethodDelete},   {"GET", kHttpMethodGet},     {"HEAD", kHttpMethodHead},
    {"OPTIONS", kHttpMethodOptions}, {"PATCH", kHttpMethodPatch}, {"POST", kHttpMethodPost},
    {"PUT", kHttpMethodPut},
};

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

}  // namespace

HttpAnswer FailureAnswer(int status, std::string_view message) {
  GoxHost::JsonValue body;
  GoxHost::JsonDocument& document = body.Edit();
  auto& allocator = document.GetAllocator();
  const std::string text = ValidUtf8(message);
  document.SetObject();
  document.AddMember("httpStatus", status, allocator);
  document.AddMember("message",
                     rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator),
                     allocator);
  return JsonAnswer(body.Text(), status);
}

HttpAnswer JsonAnswer(std::string json, int status) {
  HttpAnswer answer;
  answer.status = status;
  answer.contentType = kJsonContentType;
  answer.body = std::move(json);
  return answer;
}

std::uint32_t MethodCode(std::string_view name) {
  for (const MethodEntry& entry : kMethods)
    if (entry.name == name) return entry.code;
  return kHttpMethodOther;
}

HttpAnswer AnswerFromCall(const GoxHost::CallResponse& response) {
  if (!response.problems.empty())
    return FailureAnswer(kBadGateway, FormatText(kBrokenAnswer, response.problems.front().c_str()));
  if (response.error) {
    const int status = response.status >= 400 && response.status <= 599 ? response.status : 400;
    return FailureAnswer(status, *response.error);
  }
  if (response.status != 0 && (response.status < 200 || response.status > 599))
    return FailureAnswer(kBadGateway, FormatText(kBadStatus, response.status));
  HttpAnswer answer;
  answer.status = response.status == 0 ? 200 : response.status;
  for (const auto& [name, value] : response.headers)
    if (!IsFramingHeader(name) && name.find_first_of("\r\n:") == std::string::npos &&
        value.find_first_of("\r\n") == std::string::npos)
      answer.headers.emplace_back(name, value);
  const bool empty = response.streamed ? response.streamText.empty() : response.body.Get().IsNull();
  if (empty) {
    if (answer.status == 200) answer.status = 204;
    return answer;
  }
  answer.contentType = kJsonContentType;
  answer.body = ValidUtf8(response.streamed ? response.streamText : response.body.Text());
  return answer;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

bool IsFramingHeader(std::string_view name) {
  constexpr std::string_view kFraming[] = {"content-length", "transfer-encoding", "connection",
                                           "content-type", "keep-alive"};
  for (std::string_view framing : kFraming)
    if (name.size() == framing.size() && strncasecmp(name.data(), framing.data(), name.size()) == 0)
      return true;
  return false;
}

}  // namespace GoxHostApp
