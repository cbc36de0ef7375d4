#include "sdk/diagnostics/console_log_targets.h"

#include <cstdio>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/platform_services.h"

namespace Quarn {
namespace {

constexpr const char* kBaseConsoleName = "BaseConsoleLogTarget";
constexpr const char* kStdErrName = "StdErrLogTarget";
constexpr const char* kStdOutName = "StdOutLogTarget";
constexpr const char* kDebuggerConsoleName = "DebuggerConsoleLogTarget";
constexpr const char* kConsoleLineFormat = "#E(#T): #L| #M";
constexpr const char* kMessageOnlyLineFormat = "#M";

}  // namespace

BaseConsoleLogTarget::BaseConsoleLogTarget(const char* lineFormat, std::uint64_t include,
                                           std::uint64_t exclude)
    : LogTarget(lineFormat) {
  SetMasks(include, exclude);
}

const char* BaseConsoleLogTarget::Name() const {
  return kBaseConsoleName;
}

bool BaseConsoleLogTarget::Write(const LogRecord& record) {
  char line[kLogBufferSize];
  const std::size_t length = FormatLogLine(Format(record), record, line, sizeof line);
  std::lock_guard<std::mutex> guard(OutputLock());
  Output(line, length);
  return true;
}

StdErrLogTarget::StdErrLogTarget()
    : BaseConsoleLogTarget(kConsoleLineFormat, kCategoryDebug, kCategoryGeneral) {}

const char* StdErrLogTarget::Name() const {
  return kStdErrName;
}

void StdErrLogTarget::Flush() {
  std::fflush(stderr);
}

void StdErrLogTarget::Output(const char* line, std::size_t length) {
  std::fwrite(line, 1, length, stderr);
}

StdOutLogTarget::StdOutLogTarget()
    : BaseConsoleLogTarget(kMessageOnlyLineFormat, kCategoryGeneral, kCategoryDebug) {}

const char* StdOutLogTarget::Name() const {
  return kStdOutName;
}

void StdOutLogTarget::Flush() {
  std::fflush(stdout);
}

void StdOutLogTarget::Output(const char* line, std::size_t length) {
  std::fwrite(line, 1, length, stdout);
  if (flushAfterEachLine_.load()) std::fflush(stdout);
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget()
    : BaseConsoleLogTarget(kConsoleLineFormat, kCategoryDebug, 0) {}

const char* DebuggerConsoleLogTarget::Name() const {
  return kDebuggerConsoleName;
}

void DebuggerConsoleLogTarget::Output(const char* line, std::size_t) {
  WriteToDebuggerConsole(line);
}

}  // namespace Quarn
