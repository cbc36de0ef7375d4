// Native conversion of an inventory-shaped response: a structure holding a few hundred items of 14
// members (an int32, eight strings, three bools, two uint64), as the inventory service answers.
// Measures StructToNative from the BindingProperty document and StructToProperty back, per record.
//
// InventoryDocument() is the document both directions use, so that a decoder benchmark can measure
// the same content from its JSON text.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/type_registry.h"

namespace {

struct InventoryItem {
  std::int32_t itemId = 0;
  std::string inventoryType;
  std::string expirationDate;
  std::string purchaseDate;
  std::uint64_t quantity = 0;
  std::string usedInGameDate;
  std::string entitlementId;
  std::string eneitlementTypeId;
  std::string instanceId;
  std::string instanceTypeId;
  bool f2p = false;
  bool rental = false;
  bool lsb = false;
  std::uint64_t wins = 0;
};

struct InventoryResponse {
  std::vector<InventoryItem> items;
};

constexpr std::size_t kRecords = 300;

}  // namespace

// clang-format off
template <> struct Quarn::TypeTraits<InventoryItem> : Quarn::StructTypeTraits<0x7BE4C001> {};
template <> struct Quarn::TypeTraits<std::vector<InventoryItem>> : Quarn::VectorTypeTraits<0x7BE4C002, InventoryItem> {};
template <> struct Quarn::TypeTraits<InventoryResponse> : Quarn::StructTypeTraits<0x7BE4C003> {};
// clang-format on

namespace {

#define BENCH_MEMBER(Struct, member) AddField<decltype(Struct::member)>(#member, offsetof(Struct, member))

const Quarn::TypeRegistry& Registry() {
  static Quarn::TypeRegistry registry;
  static const bool registered = [] {
    registry.RegisterType<InventoryItem>("InventoryItem")
        .BENCH_MEMBER(InventoryItem, itemId)
        .BENCH_MEMBER(InventoryItem, inventoryType)
        .BENCH_MEMBER(InventoryItem, expirationDate)
        .BENCH_MEMBER(InventoryItem, purchaseDate)
        .BENCH_MEMBER(InventoryItem, quantity)
        .BENCH_MEMBER(InventoryItem, usedInGameDate)
        .BENCH_MEMBER(InventoryItem, entitlementId)
        .BENCH_MEMBER(InventoryItem, eneitlementTypeId)
        .BENCH_MEMBER(InventoryItem, instanceId)
        .BENCH_MEMBER(InventoryItem, instanceTypeId)
        .BENCH_MEMBER(InventoryItem, f2p)
        .BENCH_MEMBER(InventoryItem, rental)
        .BENCH_MEMBER(InventoryItem, lsb)
        .BENCH_MEMBER(InventoryItem, wins);
    registry.RegisterType<InventoryResponse>("InventoryResponse").BENCH_MEMBER(InventoryResponse, items);
    return true;
  }();
  (void)registered;
  return registry;
}

std::string Word(BenchCorpora::Source& source, std::size_t length) {
  std::string word;
  for (std::size_t i = 0; i < length; ++i)
    word.push_back(static_cast<char>('a' + source.Below(26)));
  return word;
}

// kRecords items with texts of realistic lengths, from a fixed seed.
InventoryResponse InventoryNative() {
  BenchCorpora::Source source;
  const char* const types[] = {"CHAMPION_SKIN", "WARD_SKIN", "EMOTE", "SUMMONER_ICON"};
  InventoryResponse response;
  for (std::size_t i = 0; i < kRecords; ++i) {
    InventoryItem item;
    item.itemId = static_cast<std::int32_t>(source.Below(200000));
    item.inventoryType = types[source.Below(4)];
    item.expirationDate = "2031-01-01T00:00:00.000Z";
    item.purchaseDate = "2024-0" + std::to_string(1 + source.Below(9)) + "-12T10:11:12.000Z";
    item.quantity = 1 + source.Below(3);
    item.usedInGameDate = "";
    item.entitlementId = Word(source, 36);
    item.eneitlementTypeId = Word(source, 36);
    item.instanceId = Word(source, 12);
    item.instanceTypeId = "";
    item.f2p = source.Below(2) == 0;
    item.rental = source.Below(8) == 0;
    item.lsb = false;
    item.wins = source.Below(500);
    response.items.push_back(std::move(item));
  }
  return response;
}

// The response as a BindingProperty document: {"items": [ {14 members} x kRecords ]}.
Quarn::BindingProperty InventoryDocument() {
  Quarn::ConversionResult result;
  Quarn::ToProperty(result, InventoryNative(), Registry());
  return std::move(result.Value());
}

void SetPerRecord(benchmark::State& state) {
  state.counters["per_record"] =
      benchmark::Counter(static_cast<double>(kRecords),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_StructToNative(benchmark::State& state) {
  const Quarn::BindingProperty document = InventoryDocument();
  for (auto _ : state) {
    InventoryResponse response;
    Quarn::ConversionResult result;
    Quarn::ToNative(result, response, document, "<value>", Registry());
    if (!result.Ok() || response.items.size() != kRecords) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(response);
  }
  SetPerRecord(state);
}
BENCHMARK(BM_StructToNative);

void BM_StructToProperty(benchmark::State& state) {
  const InventoryResponse response = InventoryNative();
  for (auto _ : state) {
    Quarn::ConversionResult result;
    Quarn::ToProperty(result, response, Registry());
    if (!result.Ok()) state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(result);
  }
  SetPerRecord(state);
}
BENCHMARK(BM_StructToProperty);

}  // namespace

BENCHMARK_MAIN();
