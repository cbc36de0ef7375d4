// The fixed cost of a value tree: small documents decoded one at a time while no other tree is alive,
// so that every tree starts from an empty page pool, as the plugin's endpoint calls do. DecodeJson is
// compared with RapidJSON's Document::Parse into a fresh document; the run also counts the page faults
// (getrusage minor faults) of each decode against the pool pages the tree holds.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/page_pool.h"
#include "sdk/binding/property_context.h"
#include "sdk/serialization/json_decoder.h"

namespace {

using Quarn::ConversionResult;
using Quarn::DecodeJson;

constexpr std::size_t kDocuments = 1000;

const std::vector<std::string>& Tiny() {
  static const std::vector<std::string> documents = BenchCorpora::Tiny(kDocuments);
  return documents;
}

const std::string& OneKilobyte() {
  static const std::string document = BenchCorpora::Records(1 << 10);
  return document;
}

void LoneDecodeJson(benchmark::State& state, const std::vector<std::string>* documents) {
  for (auto _ : state) {
    for (const std::string& text : *documents) {
      ConversionResult result = DecodeJson(text);
      benchmark::DoNotOptimize(result.Value().Count());
    }
  }
}

void LoneDocumentParse(benchmark::State& state, const std::vector<std::string>* documents) {
  for (auto _ : state) {
    for (const std::string& text : *documents) {
      rapidjson::Document document;
      document.Parse(text.data(), text.size());
      benchmark::DoNotOptimize(document.IsObject());
    }
  }
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

struct FaultFigures {
  double faultsPerDecode = 0;
  double poolPagesPerTree = 0;
};

// Decodes each document once, alone, counting faults and the pool pages each tree holds at its largest
// (right after decoding: a decoder releases nothing).
FaultFigures CountFaults(const std::vector<std::string>& documents, int rounds) {
  for (const std::string& text : documents)  // first touches of the code and the heap, not counted
    benchmark::DoNotOptimize(DecodeJson(text).Ok());
  std::size_t pages = 0;
  const long before = MinorFaults();
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& text : documents) {
      ConversionResult result = DecodeJson(text);
      const Quarn::PropertyContext* context = result.Value().Context();
      if (context != nullptr) pages += context->SlabInUse().PagesHeld();
    }
  }
  const double decodes = static_cast<double>(documents.size()) * rounds;
  return {static_cast<double>(MinorFaults() - before) / decodes, static_cast<double>(pages) / decodes};
}

void PrintGoal(const char* name, double value, double goal) {
  std::printf("  %-58s %8.3f  (goal %.2f: %s)\n", name, value, goal, value <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static const std::vector<std::string> oneKilobyte{OneKilobyte()};
  benchmark::RegisterBenchmark("Lone/DecodeJson/tiny_x1000", LoneDecodeJson, &Tiny());
  benchmark::RegisterBenchmark("Lone/DocumentParse/tiny_x1000", LoneDocumentParse, &Tiny());
  benchmark::RegisterBenchmark("Lone/DecodeJson/records_1k", LoneDecodeJson, &oneKilobyte);
  benchmark::RegisterBenchmark("Lone/DocumentParse/records_1k", LoneDocumentParse, &oneKilobyte);
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  if (Quarn::PagePool::Instance().ReadUsage().blocks != 0)
    std::printf("\nwarning: a tree outlived its benchmark; the figures below are not for lone trees\n");
  std::printf("\nOne tree at a time, CPU time for each document\n");
  for (const char* corpus : {"tiny_x1000", "records_1k"}) {
    const double ours = reporter.Time(std::string("Lone/DecodeJson/") + corpus);
    const double theirs = reporter.Time(std::string("Lone/DocumentParse/") + corpus);
    if (ours == 0.0 || theirs == 0.0) continue;
    const double per = std::string(corpus) == "tiny_x1000" ? static_cast<double>(kDocuments) : 1.0;
    std::printf("  per document: DecodeJson %-12s %8.2f us  Document::Parse %8.2f us\n", corpus,
                ours / per / 1e3, theirs / per / 1e3);
    const std::string row = std::string("lone DecodeJson / Document::Parse, ") + corpus;
    PrintGoal(row.c_str(), ours / theirs, 8.0);
  }
  const FaultFigures tiny = CountFaults(Tiny(), 5);
  const FaultFigures kilobyte = CountFaults(oneKilobyte, 2000);
  std::printf("\nPage faults per lone decode (pool pages the tree holds)\n");
  std::printf("  per document: faults tiny %6.2f (pages %.2f), records_1k %6.2f (pages %.2f)\n",
              tiny.faultsPerDecode, tiny.poolPagesPerTree, kilobyte.faultsPerDecode,
              kilobyte.poolPagesPerTree);
  PrintGoal("page faults per tiny decode, goal: pool pages + 1", tiny.faultsPerDecode,
            tiny.poolPagesPerTree + 1);
  PrintGoal("page faults per 1 KB decode, goal: pool pages + 1", kilobyte.faultsPerDecode,
            kilobyte.poolPagesPerTree + 1);
  benchmark::Shutdown();
  return 0;
}
