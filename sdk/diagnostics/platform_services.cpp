#include "sdk/diagnostics/platform_services.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace Quarn {
namespace {

constexpr std::int64_t kNanosecondsPerMillisecond = 1000000;

std::uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec / kNanosecondsPerMillisecond);
}

// The debugger-console receiver and its context change together, so one lock guards both.
struct DebuggerConsole {
  std::mutex lock;
  DebuggerConsoleSink sink = nullptr;
  void* context = nullptr;
};

DebuggerConsole& TheDebuggerConsole() {
  static DebuggerConsole console;
  return console;
}

}  // namespace

LocalDateTime ReadLocalTime() {
  LocalDateTime result;
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return result;
  tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) return result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  result.millisecond = static_cast<std::int32_t>(now.tv_nsec / kNanosecondsPerMillisecond);
  return result;
}

std::uint64_t MillisecondsSinceFirstClockUse() {
  static const std::uint64_t start = MonotonicMilliseconds();
  return MonotonicMilliseconds() - start;
}

std::size_t ReadExecutablePath(char* buffer, std::size_t size) {
  const ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
  if (length <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return static_cast<std::size_t>(length);
}

const void* CurrentThreadIdentity() {
  return reinterpret_cast<const void*>(pthread_self());
}

std::uint32_t CurrentThreadNumber() {
  return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

void SetDebuggerConsoleSink(DebuggerConsoleSink sink, void* context) {
  DebuggerConsole& console = TheDebuggerConsole();
  std::lock_guard<std::mutex> guard(console.lock);
  console.sink = sink;
  console.context = context;
}

void WriteToDebuggerConsole(const char* text) {
  DebuggerConsole& console = TheDebuggerConsole();
  std::lock_guard<std::mutex> guard(console.lock);
  if (console.sink != nullptr) console.sink(text, console.context);
}

}  // namespace Quarn
