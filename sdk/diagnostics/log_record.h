// LogRecord: one logged message as the log targets receive it, and the log levels.

#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/diagnostics/platform_services.h"

namespace Quarn {

// Log levels. A message is written when its level is not below the logger's and the target's level.
inline constexpr std::int32_t kLogLevelOkay = 0;
inline constexpr std::int32_t kLogLevelWarning = 1;
inline constexpr std::int32_t kLogLevelError = 2;
inline constexpr std::int32_t kLogLevelAlways = 3;

// Size of the message buffer of a record and of every formatted line, terminating NUL included.
inline constexpr std::size_t kLogBufferSize = 4096;

// One message: when it was logged (local time), its level, its categories (bit i is category code i) and
// its text, NUL-terminated and at most kLogBufferSize - 1 characters long. Filled by the logger; targets
// only read it. The message is left uninitialised by default, as the logger always writes it.
struct LogRecord {
  LocalDateTime time;
  std::int32_t level = 0;
  std::uint64_t categories = 0;
  char message[kLogBufferSize];
};

}  // namespace Quarn
