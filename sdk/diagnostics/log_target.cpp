#include "sdk/diagnostics/log_target.h"

#include "sdk/diagnostics/logger.h"

namespace Quarn {
namespace {

constexpr const char* kLogTargetName = "LogTarget";

std::uint64_t JoinMask(std::uint32_t low, std::uint32_t high) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The twelve entries of every target's table; each finds its target through the table's address.
constexpr LogTargetApi kTargetFunctions = {
    [](const LogTargetApi*) { return kLogTargetInterfaceVersion; },
    [](const LogTargetApi* self, std::int32_t level) { LogTarget::FromApi(self)->SetLevel(level); },
    [](const LogTargetApi* self) { return LogTarget::FromApi(self)->Level(); },
    [](const LogTargetApi* self, std::uint32_t includeLow, std::uint32_t includeHigh,
       std::uint32_t excludeLow, std::uint32_t excludeHigh) {
      LogTarget::FromApi(self)->SetMasks(JoinMask(includeLow, includeHigh),
                                         JoinMask(excludeLow, excludeHigh));
    },
    [](const LogTargetApi* self) { return LogTarget::FromApi(self)->IncludeMask(); },
    [](const LogTargetApi* self) { return LogTarget::FromApi(self)->ExcludeMask(); },
    [](const LogTargetApi* self) { return LogTarget::FromApi(self)->Name(); },
    [](const LogTargetApi* self, const LogRecord* record) {
      return LogTarget::FromApi(self)->Format(*record);
    },
    [](const LogTargetApi* self) { LogTarget::FromApi(self)->Attach(); },
    [](const LogTargetApi* self) { LogTarget::FromApi(self)->Detach(); },
    [](const LogTargetApi* self) { return LogTarget::FromApi(self)->IsAttached(); },
    [](const LogTargetApi* self, const LogRecord* record) {
      return LogTarget::FromApi(self)->Write(*record);
    },
};

}  // namespace

LogTarget::LogTarget(const char* lineFormat) : binding_{kTargetFunctions, this}, lineFormat_(lineFormat) {}

LogTarget::~LogTarget() {
  DetachFromLogger();
}

void LogTarget::Detach() {
  DetachFromLogger();
}

// The logger's lock is never taken while this target's lock is held: the logger holds its own lock while
// it asks targets for their settings, so the opposite order could deadlock.
void LogTarget::DetachFromLogger() {
  if (attached_.exchange(false)) GetLoggerApi()->detachTarget(Api());
}

void LogTarget::Attach() {
  if (!attached_.exchange(true)) GetLoggerApi()->attachTarget(Api());
}

bool LogTarget::IsAttached() const {
  return attached_.load();
}

const char* LogTarget::Name() const {
  return kLogTargetName;
}

const char* LogTarget::Format(const LogRecord&) const {
  return lineFormat_;
}

bool LogTarget::Write(const LogRecord&) {
  return false;
}

void LogTarget::Flush() {}

void LogTarget::SetLevel(std::int32_t level) {
  std::lock_guard<std::mutex> guard(lock_);
  level_ = level;
}

std::int32_t LogTarget::Level() const {
  std::lock_guard<std::mutex> guard(lock_);
  return level_;
}

void LogTarget::SetMasks(std::uint64_t include, std::uint64_t exclude) {
  std::lock_guard<std::mutex> guard(lock_);
  includeMask_ = include & ~exclude;
  excludeMask_ = exclude;
}

std::uint64_t LogTarget::IncludeMask() const {
  std::lock_guard<std::mutex> guard(lock_);
  return includeMask_;
}

std::uint64_t LogTarget::ExcludeMask() const {
  std::lock_guard<std::mutex> guard(lock_);
  return excludeMask_;
}

LogTarget* LogTarget::FromApi(const LogTargetApi* api) {
  return reinterpret_cast<const Binding*>(api)->target;
}

}  // namespace Quarn
