// CpuTimeReporter: prints benchmark results as usual and keeps each benchmark's CPU time per iteration,
// so that a benchmark program can print ratios against its baselines once the runs are done. CPU time
// varies less than wall time on a shared machine; with repetitions the fastest run is kept, under the
// benchmark's name without its repetition count.

#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class CpuTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      benchmark::BenchmarkName name = run.run_name;
      name.repetitions.clear();
      auto [entry, fresh] = times_.emplace(name.str(), run.GetAdjustedCPUTime());
      if (!fresh) entry->second = std::min(entry->second, run.GetAdjustedCPUTime());
      auto [real, freshReal] = realTimes_.emplace(name.str(), run.GetAdjustedRealTime());
      if (!freshReal) real->second = std::min(real->second, run.GetAdjustedRealTime());
    }
  }

  // The CPU time per iteration of the benchmark named name, in its time unit; 0 when it did not run.
  [[nodiscard]] double Time(const std::string& name) const {
    const auto found = times_.find(name);
    return found != times_.end() ? found->second : 0.0;
  }
  // The same for wall time: for work spread over threads (a request and the server answering it),
  // where the calling thread's CPU time tells little.
  [[nodiscard]] double RealTime(const std::string& name) const {
    const auto found = realTimes_.find(name);
    return found != realTimes_.end() ? found->second : 0.0;
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, double> realTimes_;
};

// A run behind a goal line is repeated: one run slowed by the machine (single runs of the same binary
// differ by 10 to 40 % on a shared virtual machine) then does not decide a ratio, since the fastest of
// each side's runs is compared.
inline benchmark::internal::Benchmark* Repeated(benchmark::internal::Benchmark* benchmark) {
  return benchmark->Repetitions(3);
}
