// ConsoleLogTargets: the three log targets built into the logger — standard error, standard output and
// the debugger console. The logger creates all three and attaches the standard-error and debugger
// targets; the standard-output target waits to be attached.

#pragma once

#include <atomic>
#include <cstddef>

#include "sdk/diagnostics/log_target.h"

namespace Quarn {

// The base of the console targets: formats each record with the target's line format into a fixed buffer
// and hands the line to Output under the target's lock, so lines never interleave.
class BaseConsoleLogTarget : public LogTarget {
 public:
  [[nodiscard]] const char* Name() const override;
  bool Write(const LogRecord& record) override;

 protected:
  // Starts with `lineFormat` and the given masks (include & ~exclude is kept as the include mask).
  BaseConsoleLogTarget(const char* lineFormat, std::uint64_t include, std::uint64_t exclude);

  // Outputs one complete line of `length` characters (NUL-terminated). Called with the target's lock held.
  virtual void Output(const char* line, std::size_t length) = 0;
};

// Standard error, one write per line. Format "#E(#T): #L| #M"; includes "DBG", excludes "GEN".
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  [[nodiscard]] const char* Name() const override;
  void Flush() override;

 protected:
  void Output(const char* line, std::size_t length) override;
};

// Standard output. Format "#M"; includes "GEN", excludes "DBG". Lines are flushed one by one only while
// the flush switch is on (off initially).
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  [[nodiscard]] const char* Name() const override;
  void Flush() override;

  void SetFlushAfterEachLine(bool flush) { flushAfterEachLine_.store(flush); }

 protected:
  void Output(const char* line, std::size_t length) override;

 private:
  std::atomic<bool> flushAfterEachLine_{false};
};

// The debugger console (see SetDebuggerConsoleSink). Format "#E(#T): #L| #M"; includes "DBG" only.
// Flushing does nothing: the console takes each line whole.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  [[nodiscard]] const char* Name() const override;

 protected:
  void Output(const char* line, std::size_t length) override;
};

}  // namespace Quarn
