// BindingProperty against nlohmann::json (the baseline) on the same documents, built and destroyed in
// one run: (a) a collection of small structures with repeated field names, (b) a collection of
// integers, (c) a deep copy of (a), (d) one structure whose many fields arrive in random name order.
// Prints the time ratios and the bytes each document holds.
//
// Bytes: BindingProperty's from the module heap counters, the baseline's from a counting global
// operator new; both count the usable size of each block, so the figures are comparable.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/module_heap.h"

// The replacements below pair malloc with free; g++ sees the inlined operator delete calling free on
// memory from operator new and warns about a mismatch that is none.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

std::atomic<std::uint64_t> gNewBytesInUse{0};

}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  gNewBytesInUse.fetch_add(malloc_usable_size(block), std::memory_order_relaxed);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  gNewBytesInUse.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}

namespace {

using nlohmann::json;
using Quarn::BindingProperty;

constexpr int kStructures = 100'000;
constexpr int kIntegers = 1'000'000;
constexpr int kWideFields = 200'000;

// The field names in the order a producer writes them, which is not name order.
constexpr const char* kNames[] = {"name",   "id",    "inventoryType", "itemKey",
                                  "weight", "count", "enabled",       "tag"};
constexpr const char* kInventoryTypes[] = {"CHAMPION_SKIN", "WARD_SKIN", "EMOTE", "SUMMONER_ICON"};

// The texts that differ between structures, made before any timing.
const std::vector<std::string>& ItemNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> made;
    for (int i = 0; i < kStructures; ++i)
      made.push_back("Item number " + std::to_string(i));
    return made;
  }();
  return names;
}

void BuildStructures(BindingProperty& document) {
  const std::vector<std::string>& names = ItemNames();
  document.MakeCollection();
  for (int i = 0; i < kStructures; ++i) {
    BindingProperty& item = document.Append();
    item.Field(kNames[0]).SetString(names[static_cast<std::size_t>(i)]);
    item.Field(kNames[1]).SetSigned(i);
    item.Field(kNames[2]).SetString(kInventoryTypes[i % 4]);
    item.Field(kNames[3]).SetUnsigned(static_cast<std::uint64_t>(i) * 2654435761u);
    item.Field(kNames[4]).SetFloat(i * 0.25);
    item.Field(kNames[5]).SetSigned(i % 17);
    item.Field(kNames[6]).SetBool(i % 3 == 0);
    item.Field(kNames[7]).SetString("loadout");
  }
}

void BuildStructures(json& document) {
  const std::vector<std::string>& names = ItemNames();
  document = json::array();
  for (int i = 0; i < kStructures; ++i) {
    json& item = document.emplace_back(json::object());
    item[kNames[0]] = names[static_cast<std::size_t>(i)];
    item[kNames[1]] = i;
    item[kNames[2]] = kInventoryTypes[i % 4];
    item[kNames[3]] = static_cast<std::uint64_t>(i) * 2654435761u;
    item[kNames[4]] = i * 0.25;
    item[kNames[5]] = i % 17;
    item[kNames[6]] = i % 3 == 0;
    item[kNames[7]] = "loadout";
  }
}

// Distinct field names in a fixed pseudo-random order, made before any timing.
const std::vector<std::string>& WideNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> made;
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < kWideFields; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      made.push_back("field-" + std::to_string(state >> 40) + "-" + std::to_string(i));
    }
    return made;
  }();
  return names;
}

void BuildWide(BindingProperty& document) {
  int i = 0;
  for (const std::string& name : WideNames())
    document.Field(name).SetSigned(i++);
}

void BuildWide(json& document) {
  document = json::object();
  int i = 0;
  for (const std::string& name : WideNames())
    document[name] = i++;
}

void BuildIntegers(BindingProperty& document) {
  document.MakeCollection();
  for (int i = 0; i < kIntegers; ++i)
    document.Append().SetSigned(i);
}

void BuildIntegers(json& document) {
  document = json::array();
  for (int i = 0; i < kIntegers; ++i)
    document.emplace_back(i);
}

std::uint64_t BytesInUse(const BindingProperty*) {
  return Quarn::HeapBytesInUse();
}
std::uint64_t BytesInUse(const json*) {
  return gNewBytesInUse.load(std::memory_order_relaxed);
}

// Builds and destroys the document each iteration; reports the bytes it held once built.
template <class Document, void (*Build)(Document&)>
void BuildAndDestroy(benchmark::State& state, int items) {
  std::uint64_t held = 0;
  for (auto _ : state) {
    const std::uint64_t before = BytesInUse(static_cast<Document*>(nullptr));
    {
      Document document;
      Build(document);
      held = BytesInUse(static_cast<Document*>(nullptr)) - before;
      benchmark::DoNotOptimize(document);
    }
  }
  state.counters["bytes_per_doc"] = static_cast<double>(held);
  state.counters["bytes_per_item"] = static_cast<double>(held) / items;
}

// Copies a built document into a fresh one and destroys the copy each iteration.
template <class Document, void (*Build)(Document&)>
void CopyAndDestroy(benchmark::State& state) {
  Document source;
  Build(source);
  std::uint64_t held = 0;
  for (auto _ : state) {
    const std::uint64_t before = BytesInUse(static_cast<Document*>(nullptr));
    {
      Document copy(source);
      held = BytesInUse(static_cast<Document*>(nullptr)) - before;
      benchmark::DoNotOptimize(copy);
    }
  }
  state.counters["bytes_per_doc"] = static_cast<double>(held);
}

void StructuresBindingProperty(benchmark::State& state) {
  BuildAndDestroy<BindingProperty, BuildStructures>(state, kStructures);
}
void StructuresNlohmann(benchmark::State& state) {
  BuildAndDestroy<json, BuildStructures>(state, kStructures);
}
void IntegersBindingProperty(benchmark::State& state) {
  BuildAndDestroy<BindingProperty, BuildIntegers>(state, kIntegers);
}
void IntegersNlohmann(benchmark::State& state) {
  BuildAndDestroy<json, BuildIntegers>(state, kIntegers);
}
void WideBindingProperty(benchmark::State& state) {
  BuildAndDestroy<BindingProperty, BuildWide>(state, kWideFields);
}
void WideNlohmann(benchmark::State& state) {
  BuildAndDestroy<json, BuildWide>(state, kWideFields);
}
void CopyBindingProperty(benchmark::State& state) {
  CopyAndDestroy<BindingProperty, BuildStructures>(state);
}
void CopyNlohmann(benchmark::State& state) {
  CopyAndDestroy<json, BuildStructures>(state);
}

BENCHMARK(StructuresBindingProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(StructuresNlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(IntegersBindingProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(IntegersNlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyBindingProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyNlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(WideBindingProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(WideNlohmann)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps each benchmark's time and bytes for the comparison at the end.
class ComparingReporter : public benchmark::ConsoleReporter {
 public:
  struct Figures {
    double time = 0;
    double bytes = 0;
  };
  std::map<std::string, Figures> figures;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      Figures& f = figures[run.benchmark_name()];
      f.time = run.GetAdjustedRealTime();
      const auto bytes = run.counters.find("bytes_per_doc");
      if (bytes != run.counters.end()) f.bytes = bytes->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ComparingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nBindingProperty against nlohmann::json (ratio < 1: BindingProperty smaller or faster)\n");
  std::printf("%-12s %14s %10s %16s %16s %10s\n", "document", "time ratio", "speed-up", "bytes (ours)",
              "bytes (nlohmann)", "bytes ratio");
  for (const char* name : {"Structures", "Integers", "Copy", "Wide"}) {
    const auto ours = reporter.figures.find(std::string(name) + "BindingProperty");
    const auto theirs = reporter.figures.find(std::string(name) + "Nlohmann");
    if (ours == reporter.figures.end() || theirs == reporter.figures.end()) continue;
    const ComparingReporter::Figures& a = ours->second;
    const ComparingReporter::Figures& b = theirs->second;
    std::printf("%-12s %14.3f %9.2fx %16.0f %16.0f %10.3f\n", name, a.time / b.time, b.time / a.time, a.bytes,
                b.bytes, a.bytes / b.bytes);
  }
  benchmark::Shutdown();
  return 0;
}
