#include "tools/gox_host/host_log.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace GoxHostApp {
namespace {

constexpr std::string_view kLevelNames[] = {"OKAY", "WARN", "ERROR", "ALWAYS"};

}  // namespace

std::string FormatTimestamp(std::int64_t epochMilliseconds) {
  const std::time_t seconds = static_cast<std::time_t>(epochMilliseconds / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(epochMilliseconds % 1000));
  return stamp;
}

std::string FormatLogLine(std::int64_t epochMilliseconds, std::string_view level, std::string_view source,
                          std::string_view message) {
  std::string line = FormatTimestamp(epochMilliseconds);
  line += ' ';
  line.append(6 - std::min<std::size_t>(6, level.size()), ' ');
  line += level;
  line += ' ';
  line += source;
  line += ": ";
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  return line;
}

void HostLog::Write(LogLevel level, std::string_view source, std::string_view message) {
  WriteLine(kLevelNames[static_cast<int>(level)], source, message);
}

void HostLog::WriteModule(std::int32_t level, std::string_view message) {
  if (level >= 0 && level <= 3) {
    WriteLine(kLevelNames[level], "module", message);
  } else {
    WriteLine(std::to_string(level), "module", message);
  }
}

void HostLog::WriteLine(std::string_view levelText, std::string_view source, std::string_view message) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const std::string line = FormatLogLine(now, levelText, source, message);
  std::lock_guard lock(mutex_);
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
  if (kept_.size() == kKeptLines) kept_.pop_front();
  kept_.push_back(line);
}

std::vector<std::string> HostLog::Tail(std::size_t count) {
  std::lock_guard lock(mutex_);
  const std::size_t first = kept_.size() > count ? kept_.size() - count : 0;
  return {kept_.begin() + static_cast<std::ptrdiff_t>(first), kept_.end()};
}

}  // namespace GoxHostApp
