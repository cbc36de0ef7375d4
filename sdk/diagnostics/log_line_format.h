// LogLineFormat: turns a log record into one output line through a line format such as
// "#D| #L| #G| #M", and the level labels and timestamp texts the lines are made of.
//
// Line-format tokens: "#D" date and time ("2024-01-02T03:04:05.006"), "#E" the executable's file name,
// "#G" the category codes ("DBG;GEN"), "#H" seconds and milliseconds since the clock's first use
// ("000012.345"), "#L" the level label, "#M" the message, "#T" the calling thread's identity ("%p");
// "#" followed by any other character inserts that character ("##" gives "#").

#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/platform_services.h"

namespace Quarn {

// The six-character label of a level: "  OKAY", "  WARN", " ERROR", "ALWAYS". Levels outside 0 to 3 read
// "   ???".
[[nodiscard]] const char* LevelLabel(std::int32_t level);

// Writes "YYYY-MM-DDThh:mm:ss.mmm" into `buffer` (NUL-terminated, cut to fit). REQUIRES: `size` > 0.
void FormatTimestamp(const LocalDateTime& time, char* buffer, std::size_t size);

// Writes "YYYY-MM-DDThh-mm-ss", a timestamp usable in file names, into `buffer` (NUL-terminated, cut to
// fit). REQUIRES: `size` > 0.
void FormatFileTimestamp(const LocalDateTime& time, char* buffer, std::size_t size);

// Formats `record` through `format` into `buffer` and returns the line's length. The line always ends with
// exactly one line feed of its own: one is appended unless the text already ends with one. A line longer
// than the buffer is cut, keeping room for the line feed and the terminating NUL. A null format counts as
// "". Writes nothing and answers 0 when `size` < 2.
std::size_t FormatLogLine(const char* format, const LogRecord& record, char* buffer, std::size_t size);

}  // namespace Quarn
