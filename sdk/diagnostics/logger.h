// Logger: the one process-wide logger through which all diagnostic output goes.
//
// A message has a level and a category mask. The logger drops it at once when muted, when its level is
// below the minimum level (initially 1) or when its categories meet the excluded categories (initially
// "XTR"); only then is it formatted (printf semantics, cut at 4095 characters), stamped with the local
// time and handed, under the logger's lock, to every attached target whose own level and masks let it
// through. A message without categories passes every category filter.
//
// The logger is created on first use and destroyed by the last release; code on either side of a module
// boundary reaches it through the LoggerApi table. Any thread may log.

#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/log_target.h"

namespace Quarn {

// The logger's table of plain functions. Entries are never null and only ever grow at the end. Entries
// that need the logger create it, except release, detachTarget and executableName, which act only on a
// logger that exists.
struct LoggerApi {
  std::int32_t (*interfaceVersion)();  // answers 1
  void (*acquire)();                   // one more user; the first creates the logger
  void (*release)();                   // one user fewer; the last destroys it; extra releases do nothing
  void (*setMinimumLevel)(std::int32_t level);
  std::int32_t (*getMinimumLevel)();
  void (*setExcludedCategories)(std::uint64_t categories);
  std::uint64_t (*getExcludedCategories)();
  void (*mute)();
  void (*unmute)();
  // A switch kept for the logger's users; the logging path never reads it.
  void (*setUserSwitch)();
  void (*clearUserSwitch)();
  void (*attachTarget)(const LogTargetApi* target);  // appends, duplicates included
  void (*detachTarget)(const LogTargetApi* target);  // removes every occurrence
  // The first attached target whose name equals `name`, or null.
  const LogTargetApi* (*findTarget)(const char* name);
  const LogTargetApi* (*stdOutTarget)();
  const LogTargetApi* (*stdErrTarget)();
  const LogTargetApi* (*debuggerTarget)();
  std::uint64_t (*categoryMask)(const char* code);  // see CategoryMask
  std::size_t (*formatCategories)(std::uint64_t mask, char* buffer, std::size_t size);
  std::size_t (*formatLine)(const char* format, const LogRecord* record, char* buffer, std::size_t size);
  const char* (*levelLabel)(std::int32_t level);
  const char* (*executableName)();  // "<unknown>" when the path cannot be read or there is no logger
  void (*readLocalTime)(LogRecord* record);
  void (*formatTimestamp)(const LogRecord* record, char* buffer, std::size_t size);
  void (*formatFileTimestamp)(const LogRecord* record, char* buffer, std::size_t size);
  void (*log)(std::int32_t level, std::uint32_t categoriesLow, std::uint32_t categoriesHigh,
              const char* format, va_list arguments);
};

// The version answered by LoggerApi::interfaceVersion.
inline constexpr std::int32_t kLoggerInterfaceVersion = 1;

// The table of the process-wide logger. The table itself is static and always valid.
[[nodiscard]] const LoggerApi* GetLoggerApi();

// How many warnings (level 1) and errors (level 2) the logger has passed its filters since it was created.
struct LogCounts {
  std::uint64_t warnings = 0;
  std::uint64_t errors = 0;
};

// The current counts; zero when there is no logger.
[[nodiscard]] LogCounts GetLogCounts();

// Logs a printf-style message at `level` with the category mask `categories`. Never fails; a null format
// logs nothing. Example: Log(kLogLevelError, kCategoryDebug, "%s", message).
void Log(std::int32_t level, std::uint64_t categories, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Log with the arguments as a va_list.
void LogV(std::int32_t level, std::uint64_t categories, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

}  // namespace Quarn
