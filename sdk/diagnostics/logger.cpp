#include "sdk/diagnostics/logger.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "sdk/diagnostics/console_log_targets.h"
#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/platform_services.h"

namespace Quarn {
namespace {

constexpr const char* kUnknownExecutable = "<unknown>";
constexpr std::size_t kExecutablePathSize = 1024;
constexpr std::size_t kInitialTargetCapacity = 8;
constexpr std::int32_t kInitialMinimumLevel = kLogLevelWarning;
constexpr std::uint64_t kInitialExcludedCategories = kCategoryExtra;

// The filter settings are atomics so that a suppressed message is dropped without taking the lock. The
// lock is recursive because destroying the logger detaches targets whose detach calls back into it.
struct Logger {
  std::recursive_mutex lock;
  std::vector<const LogTargetApi*> targets;
  std::atomic<bool> muted{false};
  std::atomic<bool> userSwitch{false};
  std::atomic<std::int32_t> minimumLevel{kInitialMinimumLevel};
  std::atomic<std::uint64_t> excludedCategories{kInitialExcludedCategories};
  char executablePath[kExecutablePathSize] = {};
  const char* executableName = kUnknownExecutable;
  // Declared in this order so that they are destroyed debugger first, standard error last.
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debugger;
  LogCounts counts;
};

std::atomic<Logger*> theLogger{nullptr};
std::atomic<std::uint32_t> userCount{0};
std::mutex lifetimeLock;  // serialises creating and destroying the logger

Logger* CreateLogger() {
  Logger* logger = new (std::nothrow) Logger;
  if (logger == nullptr) return nullptr;
  try {
    logger->targets.reserve(kInitialTargetCapacity);
  } catch (...) {
    delete logger;
    return nullptr;
  }
  if (ReadExecutablePath(logger->executablePath, sizeof logger->executablePath) > 0) {
    const char* slash = std::strrchr(logger->executablePath, '/');
    logger->executableName = slash == nullptr ? logger->executablePath : slash + 1;
  }
  return logger;
}

// Published before the built-in targets attach, because attaching goes through the published logger.
Logger* EnsureLogger() {
  Logger* logger = theLogger.load(std::memory_order_acquire);
  if (logger != nullptr) return logger;
  std::lock_guard<std::mutex> guard(lifetimeLock);
  logger = theLogger.load();
  if (logger != nullptr) return logger;
  logger = CreateLogger();
  if (logger == nullptr) return nullptr;
  theLogger.store(logger, std::memory_order_release);
  logger->stdErr.Attach();
  logger->debugger.Attach();
  return logger;
}

// Detaches every target, last attached first, then destroys the built-in targets with the logger.
void DestroyLogger(Logger* logger) {
  {
    std::lock_guard<std::recursive_mutex> guard(logger->lock);
    while (!logger->targets.empty()) {
      const LogTargetApi* target = logger->targets.back();
      logger->targets.pop_back();
      target->detach(target);
    }
  }
  theLogger.store(nullptr);
  delete logger;
}

void Acquire() {
  userCount.fetch_add(1);
  (void)EnsureLogger();
}

void Release() {
  std::uint32_t count = userCount.load();
  do {
    if (count == 0) return;
  } while (!userCount.compare_exchange_weak(count, count - 1));
  if (count != 1) return;
  std::lock_guard<std::mutex> guard(lifetimeLock);
  Logger* logger = theLogger.load();
  if (userCount.load() == 0 && logger != nullptr) DestroyLogger(logger);
}

bool TargetAccepts(const LogTargetApi* target, const LogRecord& record) {
  if (record.level < target->getLevel(target)) return false;
  if (record.categories == 0) return true;
  if ((record.categories & target->getExcludeMask(target)) != 0) return false;
  const std::uint64_t include = target->getIncludeMask(target);
  return include == 0 || (record.categories & include) != 0;
}

void Dispatch(Logger& logger, const LogRecord& record) {
  std::lock_guard<std::recursive_mutex> guard(logger.lock);
  if (record.level == kLogLevelWarning) ++logger.counts.warnings;
  if (record.level == kLogLevelError) ++logger.counts.errors;
  for (const LogTargetApi* target : logger.targets) {
    if (TargetAccepts(target, record)) (void)target->write(target, &record);
  }
}

void LogArguments(std::int32_t level, std::uint32_t categoriesLow, std::uint32_t categoriesHigh,
                  const char* format, va_list arguments) {
  Logger* logger = EnsureLogger();
  if (logger == nullptr || format == nullptr) return;
  const std::uint64_t categories = (static_cast<std::uint64_t>(categoriesHigh) << 32) | categoriesLow;
  if (logger->muted.load(std::memory_order_relaxed) ||
      level < logger->minimumLevel.load(std::memory_order_relaxed) ||
      (categories & logger->excludedCategories.load(std::memory_order_relaxed)) != 0) {
    return;
  }
  LogRecord record;
  std::vsnprintf(record.message, sizeof record.message, format, arguments);
  record.time = ReadLocalTime();
  record.level = level;
  record.categories = categories;
  Dispatch(*logger, record);
}

void AttachTarget(const LogTargetApi* target) {
  Logger* logger = EnsureLogger();
  if (logger == nullptr || target == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(logger->lock);
  try {
    logger->targets.push_back(target);
  } catch (...) {
    // Out of memory: the target stays unattached; logging must not fail because of it.
  }
}

void DetachTarget(const LogTargetApi* target) {
  Logger* logger = theLogger.load(std::memory_order_acquire);
  if (logger == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(logger->lock);
  std::erase(logger->targets, target);
}

const LogTargetApi* FindTarget(const char* name) {
  Logger* logger = EnsureLogger();
  if (logger == nullptr || name == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> guard(logger->lock);
  for (const LogTargetApi* target : logger->targets) {
    if (std::strcmp(target->name(target), name) == 0) return target;
  }
  return nullptr;
}

// Runs `action` on the logger, creating it first; does nothing when it cannot be created.
template <typename Action>
void WithLogger(Action action) {
  if (Logger* logger = EnsureLogger()) action(*logger);
}

template <typename Result, typename Read>
Result ReadLogger(Read read) {
  Logger* logger = EnsureLogger();
  return logger == nullptr ? Result{} : read(*logger);
}

constexpr LoggerApi kLoggerApi = {
    [] { return kLoggerInterfaceVersion; },
    Acquire,
    Release,
    [](std::int32_t level) { WithLogger([level](Logger& l) { l.minimumLevel.store(level); }); },
    [] { return ReadLogger<std::int32_t>([](Logger& l) { return l.minimumLevel.load(); }); },
    [](std::uint64_t categories) {
      WithLogger([categories](Logger& l) { l.excludedCategories.store(categories); });
    },
    [] { return ReadLogger<std::uint64_t>([](Logger& l) { return l.excludedCategories.load(); }); },
    [] { WithLogger([](Logger& l) { l.muted.store(true); }); },
    [] { WithLogger([](Logger& l) { l.muted.store(false); }); },
    [] { WithLogger([](Logger& l) { l.userSwitch.store(true); }); },
    [] { WithLogger([](Logger& l) { l.userSwitch.store(false); }); },
    AttachTarget,
    DetachTarget,
    FindTarget,
    [] { return ReadLogger<const LogTargetApi*>([](Logger& l) { return l.stdOut.Api(); }); },
    [] { return ReadLogger<const LogTargetApi*>([](Logger& l) { return l.stdErr.Api(); }); },
    [] { return ReadLogger<const LogTargetApi*>([](Logger& l) { return l.debugger.Api(); }); },
    CategoryMask,
    FormatCategoryNames,
    [](const char* format, const LogRecord* record, char* buffer, std::size_t size) {
      return FormatLogLine(format, *record, buffer, size);
    },
    LevelLabel,
    [] {
      const Logger* logger = theLogger.load(std::memory_order_acquire);
      return logger == nullptr ? kUnknownExecutable : logger->executableName;
    },
    [](LogRecord* record) { record->time = ReadLocalTime(); },
    [](const LogRecord* record, char* buffer, std::size_t size) {
      FormatTimestamp(record->time, buffer, size);
    },
    [](const LogRecord* record, char* buffer, std::size_t size) {
      FormatFileTimestamp(record->time, buffer, size);
    },
    LogArguments,
};

}  // namespace

const LoggerApi* GetLoggerApi() {
  return &kLoggerApi;
}

LogCounts GetLogCounts() {
  Logger* logger = theLogger.load(std::memory_order_acquire);
  if (logger == nullptr) return {};
  std::lock_guard<std::recursive_mutex> guard(logger->lock);
  return logger->counts;
}

void LogV(std::int32_t level, std::uint64_t categories, const char* format, va_list arguments) {
  LogArguments(level, static_cast<std::uint32_t>(categories), static_cast<std::uint32_t>(categories >> 32),
               format, arguments);
}

void Log(std::int32_t level, std::uint64_t categories, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  LogV(level, categories, format, arguments);
  va_end(arguments);
}

}  // namespace Quarn
