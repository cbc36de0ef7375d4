// Cost of a log call that the logger's filters drop, against one that is formatted and written. The
// console targets are detached for the run; the written message goes to a target that formats the line
// and discards it, so the figures measure the logger, not the terminal.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_line_format.h"
#include "sdk/diagnostics/log_target.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn {
namespace {

constexpr const char* kBaseline = "BM_Log/WrittenToNullTarget";

// Formats each line as a console target would, then drops it.
class DiscardingLogTarget : public LogTarget {
 public:
  DiscardingLogTarget() { SetLevel(kLogLevelOkay); }
  ~DiscardingLogTarget() override { Detach(); }
  bool Write(const LogRecord& record) override {
    char line[kLogBufferSize];
    benchmark::DoNotOptimize(FormatLogLine(Format(record), record, line, sizeof line));
    return true;
  }
};

// Holds the logger for one benchmark with only the discarding target attached.
class BenchLogger {
 public:
  BenchLogger() {
    api_.acquire();
    for (const LogTargetApi* builtIn : {api_.stdErrTarget(), api_.debuggerTarget()})
      builtIn->detach(builtIn);
    target_.Attach();
  }
  ~BenchLogger() {
    target_.Detach();
    api_.release();
  }

 private:
  const LoggerApi& api_ = *GetLoggerApi();
  DiscardingLogTarget target_;
};

// One log call per iteration at `level` with `categories`; the logger's defaults decide whether it is
// dropped or written.
void BM_Log(benchmark::State& state, std::int32_t level, std::uint64_t categories) {
  BenchLogger logger;
  int value = 0;
  for (auto _ : state)
    Log(level, categories, "message %d", ++value);
}
BENCHMARK_CAPTURE(BM_Log, SuppressedByLevel, kLogLevelOkay, kCategoryDebug);
BENCHMARK_CAPTURE(BM_Log, SuppressedByCategory, kLogLevelError, kCategoryExtra);
BENCHMARK_CAPTURE(BM_Log, WrittenToNullTarget, kLogLevelError, kCategoryDebug);

// Prints the usual table, keeping each benchmark's time per call for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      nanoseconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
  }

  void PrintRatios() const {
    const auto baseline = nanoseconds_.find(kBaseline);
    if (baseline == nanoseconds_.end()) return;
    for (const auto& [name, nanoseconds] : nanoseconds_)
      std::printf("%-30s %8.2f ns/call  %6.3fx of %s\n", name.c_str(), nanoseconds,
                  nanoseconds / baseline->second, kBaseline);
  }

 private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace
}  // namespace Quarn

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Quarn::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
