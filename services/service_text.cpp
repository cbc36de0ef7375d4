#include "services/service_text.h"

#include <chrono>

namespace GoxServices {

std::int64_t SecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<GoxHost::JsonValue> ParseRequestJson(std::string_view text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return std::nullopt;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return GoxHost::JsonValue::Parse(text);
}

std::string FailureJson(int status, std::string_view message) {
  GoxHost::JsonValue failure;
  GoxHost::JsonDocument& document = failure.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("httpStatus", status, allocator);
  document.AddMember("message", JsonString(message, allocator), allocator);
  return failure.Text();
}

}  // namespace GoxServices
