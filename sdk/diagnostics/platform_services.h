// PlatformServices: the operating-system services the diagnostics need — local time, a monotonic
// high-resolution clock, the executable's path, the current thread's identity and the debugger console —
// behind small functions so that the logger and the trace providers never call the system directly.

#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarn {

// A local calendar date and time, to the millisecond. Months and days count from 1.
struct LocalDateTime {
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t millisecond = 0;
};

// The current local date and time from the real-time clock. Fields stay 0 when the clock cannot be read.
[[nodiscard]] LocalDateTime ReadLocalTime();

// Milliseconds since the first call of this function in the process (the first call answers 0). Monotonic:
// unaffected by changes of the wall clock.
[[nodiscard]] std::uint64_t MillisecondsSinceFirstClockUse();

// Copies the executable's full path, NUL-terminated and cut to fit, into `buffer` and returns its length.
// Answers 0 and leaves "" when the path cannot be read. REQUIRES: `size` > 0.
std::size_t ReadExecutablePath(char* buffer, std::size_t size);

// The calling thread's identity as an opaque pointer-sized value, stable for the thread's lifetime; the
// logger prints it with "%p".
[[nodiscard]] const void* CurrentThreadIdentity();

// The calling thread's 32-bit kernel thread id, as carried by trace events.
[[nodiscard]] std::uint32_t CurrentThreadNumber();

// Receives each text written to the debugger console, with the context given when it was installed.
using DebuggerConsoleSink = void (*)(const char* text, void* context);

// Installs the receiver of debugger-console output; null removes it. Without a receiver, output to the
// debugger console goes nowhere. Safe to call from any thread.
void SetDebuggerConsoleSink(DebuggerConsoleSink sink, void* context);

// Hands `text` to the installed debugger-console receiver, if there is one.
void WriteToDebuggerConsole(const char* text);

}  // namespace Quarn
