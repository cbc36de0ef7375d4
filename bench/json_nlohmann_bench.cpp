// DecodeJson against nlohmann::json::parse (the baseline: an owning document whose objects are sorted
// maps, as a structure's fields are kept in name order) on the JSON corpora of the JSON benchmark.
//
// Time: CPU time per corpus, each document decoded and destroyed in turn. Memory: the highest bytes in
// use while the corpus's documents are decoded and held together, from the module heap's counters for
// DecodeJson (page mappings included) and from a counting global operator new for the baseline; both
// count the usable size of each block. Goal per corpus: DecodeJson at least 2x faster (time ratio at
// most 0.5) with at most half the baseline's peak bytes (memory ratio at most 0.5).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "sdk/binding/module_heap.h"
#include "sdk/serialization/json_decoder.h"

// The replacements below pair malloc with free; g++ sees the inlined operator delete calling free on
// memory from operator new and warns about a mismatch that is none.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// One thread allocates through operator new while memory is measured; plain counters suffice.
std::uint64_t gNewBytesInUse = 0;
std::uint64_t gNewPeak = 0;

}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  gNewBytesInUse += malloc_usable_size(block);
  gNewPeak = std::max(gNewPeak, gNewBytesInUse);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  gNewBytesInUse -= malloc_usable_size(block);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}

namespace {

using BenchCorpora::Corpus;

const std::vector<Corpus>& Corpora() {
  return BenchCorpora::JsonCorpora();
}

void DecodeOurs(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state)
    for (const std::string& text : corpus->documents) {
      Quarn::ConversionResult result = Quarn::DecodeJson(text);
      benchmark::DoNotOptimize(result.Value().Count());
    }
}

void DecodeNlohmann(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state)
    for (const std::string& text : corpus->documents) {
      nlohmann::json document = nlohmann::json::parse(text);
      benchmark::DoNotOptimize(document.size());
    }
}

// Peak bytes in use while every document of the corpus is decoded and held. Zero when a decoding
// fails, which the caller reports.
std::uint64_t PeakOurs(const Corpus& corpus) {
  std::vector<Quarn::ConversionResult> held;
  held.reserve(corpus.documents.size());
  const std::uint64_t base = Quarn::HeapBytesInUse();
  Quarn::RestartMemoryPeak();
  for (const std::string& text : corpus.documents) {
    held.push_back(Quarn::DecodeJson(text));
    if (!held.back().Ok()) return 0;
  }
  return Quarn::ReadMemoryStats().peakBytesInUse - base;
}

std::uint64_t PeakNlohmann(const Corpus& corpus) {
  std::vector<nlohmann::json> held;
  held.reserve(corpus.documents.size());
  const std::uint64_t base = gNewBytesInUse;
  gNewPeak = base;
  for (const std::string& text : corpus.documents)
    held.push_back(nlohmann::json::parse(text));
  return gNewPeak - base;
}

void PrintGoal(const std::string& row, double ratio, double goal) {
  std::printf("  %-52s %8.3f  (goal %.2f: %s)\n", row.c_str(), ratio, goal, ratio <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const Corpus& corpus : Corpora()) {
    const std::string name = corpus.name;
    Repeated(benchmark::RegisterBenchmark(("Decode/Ours/" + name).c_str(), DecodeOurs, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Decode/Nlohmann/" + name).c_str(), DecodeNlohmann, &corpus));
  }
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nDecodeJson against nlohmann::json::parse (below 1: ours faster or smaller)\n");
  for (const Corpus& corpus : Corpora()) {
    const std::string name = corpus.name;
    const double ours = reporter.Time("Decode/Ours/" + name);
    const double theirs = reporter.Time("Decode/Nlohmann/" + name);
    if (ours > 0.0 && theirs > 0.0)
      PrintGoal(name + " DecodeJson / nlohmann::json::parse", ours / theirs, 0.5);
    const std::uint64_t ourBytes = PeakOurs(corpus);
    const std::uint64_t theirBytes = PeakNlohmann(corpus);
    if (ourBytes == 0 || theirBytes == 0) {
      std::printf("  %s: a document did not decode\n", corpus.name);
      continue;
    }
    std::printf("  %-52s %8llu / %llu bytes\n", (name + " peak bytes in use, ours / nlohmann").c_str(),
                static_cast<unsigned long long>(ourBytes), static_cast<unsigned long long>(theirBytes));
    PrintGoal(name + " peak bytes, DecodeJson / nlohmann::json", static_cast<double>(ourBytes) / theirBytes,
              0.5);
  }
  benchmark::Shutdown();
  return 0;
}
