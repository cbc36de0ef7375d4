#include "sdk/diagnostics/log_line_format.h"

#include <cstdio>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn {
namespace {

constexpr const char* kLevelLabels[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr const char* kUnknownLevelLabel = "   ???";
constexpr const char* kTimestampFormat = "%04d-%02d-%02dT%02d:%02d:%02d.%03d";
constexpr const char* kFileTimestampFormat = "%04d-%02d-%02dT%02d-%02d-%02d";
constexpr const char* kElapsedFormat = "%06d.%03d";
constexpr const char* kThreadFormat = "%p";
constexpr char kTokenMark = '#';
constexpr char kLineFeed = '\n';
constexpr std::size_t kLineEndReserve = 2;  // the line feed and the terminating NUL
constexpr std::size_t kFieldBufferSize = kCategorySlotCount * 4 + 1;

// Appends to a line until its text limit; whatever does not fit is dropped.
class LineBuilder {
 public:
  LineBuilder(char* buffer, std::size_t limit) : buffer_(buffer), limit_(limit) {}

  void Append(const char* text) {
    for (; *text != '\0' && length_ < limit_; ++text)
      buffer_[length_++] = *text;
  }

  void Append(char c) {
    if (length_ < limit_) buffer_[length_++] = c;
  }

  // Appends exactly one line feed unless the text ends with one, then the NUL. The reserve below the
  // limit guarantees room for both.
  std::size_t Finish() {
    if (length_ == 0 || buffer_[length_ - 1] != kLineFeed) buffer_[length_++] = kLineFeed;
    buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  std::size_t limit_;
  std::size_t length_ = 0;
};

void AppendToken(LineBuilder& line, char token, const LogRecord& record) {
  char field[kFieldBufferSize];
  switch (token) {
    case 'D':
      FormatTimestamp(record.time, field, sizeof field);
      line.Append(field);
      break;
    case 'E':
      line.Append(GetLoggerApi()->executableName());
      break;
    case 'G':
      FormatCategoryNames(record.categories, field, sizeof field);
      line.Append(field);
      break;
    case 'H': {
      const std::uint64_t elapsed = MillisecondsSinceFirstClockUse();
      std::snprintf(field, sizeof field, kElapsedFormat, static_cast<int>(elapsed / 1000),
                    static_cast<int>(elapsed % 1000));
      line.Append(field);
      break;
    }
    case 'L':
      line.Append(LevelLabel(record.level));
      break;
    case 'M':
      line.Append(record.message);
      break;
    case 'T':
      std::snprintf(field, sizeof field, kThreadFormat, CurrentThreadIdentity());
      line.Append(field);
      break;
    default:
      line.Append(token);
      break;
  }
}

}  // namespace

const char* LevelLabel(std::int32_t level) {
  if (level < 0 || level > kLogLevelAlways) return kUnknownLevelLabel;
  return kLevelLabels[level];
}

void FormatTimestamp(const LocalDateTime& time, char* buffer, std::size_t size) {
  std::snprintf(buffer, size, kTimestampFormat, time.year, time.month, time.day, time.hour, time.minute,
                time.second, time.millisecond);
}

void FormatFileTimestamp(const LocalDateTime& time, char* buffer, std::size_t size) {
  std::snprintf(buffer, size, kFileTimestampFormat, time.year, time.month, time.day, time.hour, time.minute,
                time.second);
}

std::size_t FormatLogLine(const char* format, const LogRecord& record, char* buffer, std::size_t size) {
  if (buffer == nullptr || size < kLineEndReserve) return 0;
  LineBuilder line(buffer, size - kLineEndReserve);
  for (const char* c = format == nullptr ? "" : format; *c != '\0'; ++c) {
    if (*c != kTokenMark) {
      line.Append(*c);
      continue;
    }
    // A lone mark at the very end inserts nothing; the terminator is never read past.
    if (*++c == '\0') break;
    AppendToken(line, *c, record);
  }
  return line.Finish();
}

}  // namespace Quarn
