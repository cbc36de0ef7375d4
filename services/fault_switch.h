// FaultSwitch: makes the services misbehave on purpose, for tests and demonstrations.
//
// One fault at a time, set through the admin API as JSON:
//   {"mode": "slow", "delayMs": 3000}            answer late (then normally)
//   {"mode": "error", "status": 500, "body": "x"} answer with that status and body
//   {"mode": "malformed"}                         answer 200 with a JSON text cut short
//   {"mode": "close"}                             announce a body, then close the connection without it
// Optional members: "path", a prefix the request path must start with (every service path by default),
// and "count", how many requests the fault hits before it clears itself (every request by default).
//
// Safe to use from any thread.

#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace GoxServices {

enum class FaultMode { kSlow, kError, kMalformed, kClose };

struct Fault {
  FaultMode mode = FaultMode::kError;
  std::chrono::milliseconds delay{0};
  int status = 500;
  std::string body;
  std::string pathPrefix;
  int remaining = -1;  // requests left to hit; -1 for all of them
};

// The longest delay a slow fault may ask for, so that a stuck test cannot hang the server for long.
inline constexpr std::chrono::milliseconds kMaxFaultDelay{120000};
inline constexpr const char* kDefaultFaultBody =
    R"({"httpStatus":500,"message":"fault switch: answering 500"})";
inline constexpr const char* kMalformedBody = R"({"data": {"puuid": "cut sh)";

class FaultSwitch {
 public:
  // The fault a JSON text describes, or why it describes none.
  [[nodiscard]] static std::variant<Fault, std::string> Parse(std::string_view text);

  void Set(Fault fault);
  void Clear();
  // The fault that hits a request for `path`, counting it; nothing when none is set or it does not apply.
  [[nodiscard]] std::optional<Fault> Take(const std::string& path);
  // The fault in place as JSON ("null" when none).
  [[nodiscard]] std::string Json() const;

 private:
  mutable std::mutex mutex_;
  std::optional<Fault> fault_;
};

}  // namespace GoxServices
