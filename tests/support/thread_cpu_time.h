// The CPU time the calling thread has used: what a test bounds instead of wall-clock time, so that other
// load on a shared machine does not count against the code under test.

#pragma once

#include <ctime>

namespace Quarn::test {

// Seconds of CPU time used by this thread so far.
inline double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A bound on the CPU time of one hostile input: wide enough for a sanitizer build on a busy machine, far
// below what a superlinear cost on the test's input sizes takes.
inline constexpr double kHostileInputCpuSeconds = 2.0;

}  // namespace Quarn::test
