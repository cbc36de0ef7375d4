// HostLog: gox-host's log, one line per entry on standard error: UTC time, level, source, message.
//
//   2026-05-01T12:00:00.123Z  WARN host: fixtures file has no "resources" object
//
// The module's lines come in with the module's own level numbers (0 okay, 1 warning, 2 error,
// 3 always) and go out under the source "module"; the host's own use the same levels. Lines may be
// written from any thread; each one is written whole.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace GoxHostApp {

enum class LogLevel : std::int32_t { kOkay = 0, kWarning = 1, kError = 2, kAlways = 3 };

class HostLog {
 public:
  // Writes to `out` (standard error by default); `out` must outlive the log.
  explicit HostLog(std::FILE* out = stderr) : out_(out) {}

  void Write(LogLevel level, std::string_view source, std::string_view message);
  // A module line with the module's level number; numbers outside 0..3 are shown as they are.
  void WriteModule(std::int32_t level, std::string_view message);

  void Info(std::string_view message) { Write(LogLevel::kOkay, "host", message); }
  void Warning(std::string_view message) { Write(LogLevel::kWarning, "host", message); }
  void Error(std::string_view message) { Write(LogLevel::kError, "host", message); }

  // The last lines written, oldest first, at most `count` of them; the log keeps kKeptLines.
  [[nodiscard]] std::vector<std::string> Tail(std::size_t count = kKeptLines);

  static constexpr std::size_t kKeptLines = 500;

 private:
  void WriteLine(std::string_view levelText, std::string_view source, std::string_view message);

  std::FILE* out_;
  std::mutex mutex_;
  std::deque<std::string> kept_;
};

// The time given in milliseconds since the epoch, in UTC to the millisecond: 2026-05-01T12:00:00.123Z.
[[nodiscard]] std::string FormatTimestamp(std::int64_t epochMilliseconds);

// One log line without its end of line, for a time given in milliseconds since the epoch. Control
// characters in the message (a line feed from the module included) are written as \xNN so that every
// entry stays on one line.
[[nodiscard]] std::string FormatLogLine(std::int64_t epochMilliseconds, std::string_view level,
                                        std::string_view source, std::string_view message);

}  // namespace GoxHostApp
