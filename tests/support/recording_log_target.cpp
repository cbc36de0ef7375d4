#include "tests/support/recording_log_target.h"

#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn {

RecordingLogTarget::RecordingLogTarget(const char* lineFormat) : LogTarget(lineFormat) {
  SetLevel(0);
}

RecordingLogTarget::~RecordingLogTarget() {
  Detach();
}

bool RecordingLogTarget::Write(const LogRecord& record) {
  char line[kLogBufferSize];
  FormatLogLine(Format(record), record, line, sizeof line);
  std::lock_guard<std::mutex> guard(OutputLock());
  entries_.push_back({record.level, record.categories, record.message, line});
  return true;
}

std::vector<RecordingLogTarget::Entry> RecordingLogTarget::Entries() const {
  std::lock_guard<std::mutex> guard(OutputLock());
  return entries_;
}

ScopedLogger::ScopedLogger() {
  GetLoggerApi()->acquire();
}

ScopedLogger::~ScopedLogger() {
  GetLoggerApi()->release();
}

}  // namespace Quarn
