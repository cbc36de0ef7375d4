#include "services/service_text.h"

#include <chrono>

namespace GoxServices {

std::int64_t SecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
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
