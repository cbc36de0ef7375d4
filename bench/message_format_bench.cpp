// FormatString against the platform's snprintf writing the same text into a 4096-byte buffer. Each pair
// renders identical output (checked before timing); the run ends with the time ratio of each pair.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

constexpr const char* kTextsTemplate =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";
constexpr const char* kTextsPrintf =
    "%s which supports plugin API %s is not compatible with core's plugin API %s";
constexpr const char* kMixedTemplate = "Loadout %1 of %2 was stored in %3 seconds";
constexpr const char* kMixedPrintf = "Loadout %d of %s was stored in %g seconds";

const std::string kName = "gox-loadouts";
const std::string kPluginVersion = "18.1.0";
const std::string kCoreVersion = "18.0.0";
const std::int32_t kLoadout = 7;
const std::string kPlayer = "b3a1c2d4-player";
const double kSeconds = 0.0421;

using Buffer = char[4096];

std::string FormatTexts() {
  return FormatString(kTextsTemplate, kName, kPluginVersion, kCoreVersion);
}

int PrintTexts(Buffer& buffer) {
  return std::snprintf(buffer, sizeof buffer, kTextsPrintf, kName.c_str(), kPluginVersion.c_str(),
                       kCoreVersion.c_str());
}

std::string FormatMixed() {
  return FormatString(kMixedTemplate, kLoadout, kPlayer, kSeconds);
}

int PrintMixed(Buffer& buffer) {
  return std::snprintf(buffer, sizeof buffer, kMixedPrintf, kLoadout, kPlayer.c_str(), kSeconds);
}

std::string Printed(int (*print)(Buffer&)) {
  Buffer buffer;
  const int length = print(buffer);
  return std::string(buffer, static_cast<std::size_t>(std::max(length, 0)));
}

// The snprintf side writes into its buffer and stops there; the FormatString side also builds its string.
void BM_FormatString(benchmark::State& state, std::string (*format)()) {
  for (auto _ : state)
    benchmark::DoNotOptimize(format());
}

void BM_Snprintf(benchmark::State& state, int (*print)(Buffer&)) {
  for (auto _ : state) {
    Buffer buffer;
    benchmark::DoNotOptimize(print(buffer));
    benchmark::DoNotOptimize(buffer);
  }
}

BENCHMARK_CAPTURE(BM_FormatString, Texts, &FormatTexts);
BENCHMARK_CAPTURE(BM_Snprintf, Texts, &PrintTexts);
BENCHMARK_CAPTURE(BM_FormatString, Mixed, &FormatMixed);
BENCHMARK_CAPTURE(BM_Snprintf, Mixed, &PrintMixed);

// Prints the usual table, then FormatString's CPU time over snprintf's for each pair (CPU time, as the
// machine may be shared).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      nanoseconds_[run.benchmark_name()] = run.GetAdjustedCPUTime();
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* pair : {"Texts", "Mixed"}) {
      const double format = nanoseconds_[std::string("BM_FormatString/") + pair];
      const double print = nanoseconds_[std::string("BM_Snprintf/") + pair];
      if (print > 0)
        std::printf("%s: FormatString %.1f ns, snprintf %.1f ns, ratio %.2f\n", pair, format, print,
                    format / print);
    }
  }

 private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace
}  // namespace Quarn

int main(int argc, char** argv) {
  for (const auto& [format, print] : {std::pair(Quarn::FormatTexts(), Quarn::Printed(&Quarn::PrintTexts)),
                                      std::pair(Quarn::FormatMixed(), Quarn::Printed(&Quarn::PrintMixed))}) {
    if (format != print) {
      std::fprintf(stderr, "FormatString and snprintf disagree: \"%s\" / \"%s\"\n", format.c_str(),
                   print.c_str());
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Quarn::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
