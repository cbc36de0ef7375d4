// RecordingLogTarget: a log target for tests that keeps every record it is given and the line it formats
// for it, and ScopedLogger, which holds the process-wide logger for the length of a test.

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/diagnostics/log_target.h"

namespace Quarn {

// Keeps what it is asked to write. Starts at level 0 with empty masks (it accepts what the logger passes)
// and the given line format.
class RecordingLogTarget : public LogTarget {
 public:
  struct Entry {
    std::int32_t level;
    std::uint64_t categories;
    std::string message;
    std::string line;
  };

  explicit RecordingLogTarget(const char* lineFormat = "#M");
  ~RecordingLogTarget() override;

  [[nodiscard]] const char* Name() const override { return "RecordingLogTarget"; }
  bool Write(const LogRecord& record) override;

  [[nodiscard]] std::vector<Entry> Entries() const;

 private:
  std::vector<Entry> entries_;
};

// Acquires the logger on construction and releases it on destruction, so a test that is the only user
// starts from the logger's defaults and leaves no logger behind.
class ScopedLogger {
 public:
  ScopedLogger();
  ~ScopedLogger();
  ScopedLogger(const ScopedLogger&) = delete;
  ScopedLogger& operator=(const ScopedLogger&) = delete;
};

}  // namespace Quarn
