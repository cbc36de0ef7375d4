// DecodeJson and EncodeJson against RapidJSON (the baseline) on the same documents, in one run.
//
// Decoding is compared with Document::Parse (warm: the document's pool allocator is cleared and reused,
// over a buffer large enough that parsing allocates no pool chunks) and with a Reader driving a handler
// that does nothing, the floor any building handler stands on. Encoding is compared with Writer and
// PrettyWriter over a Document whose members are sorted by name as a structure's fields are, into a
// reused string buffer, copied into a std::string as EncodeJson returns one. Before timing, every corpus
// is checked: EncodeJson(DecodeJson(x)) must equal the baseline's output byte for byte, compact and pretty.
//
// The scaling section decodes hostile and wide inputs of size n and 2n and prints the time ratio; linear
// work gives about 2.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/value_visitor.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"

namespace {

using Quarn::BindingProperty;
using Quarn::ConversionResult;
using Quarn::DecodeJson;
using Quarn::EncodeJson;
using Pool = rapidjson::MemoryPoolAllocator<>;
using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, Pool>;
using JsonValue = rapidjson::GenericValue<rapidjson::UTF8<>, Pool>;

using BenchCorpora::Corpus;

const std::vector<Corpus>& Corpora() {
  return BenchCorpora::JsonCorpora();
}

// A pool over one buffer big enough for a document of `bytes` bytes, so that warm parses allocate no
// chunks. The buffer is left uninitialised: the pool writes before it reads.
struct WarmPool {
  explicit WarmPool(std::size_t bytes) : size(bytes * 8 + (1 << 20)), buffer(new char[size]) {}
  std::size_t size;
  std::unique_ptr<char[]> buffer;
  Pool pool{buffer.get(), size};
};

// Sorts the members of every object by name, byte-wise, as a structure orders its fields.
void SortMembers(JsonValue& value, Pool& pool) {
  if (value.IsArray()) {
    for (JsonValue& element : value.GetArray())
      SortMembers(element, pool);
  } else if (value.IsObject()) {
    std::vector<JsonValue::Member*> members;
    for (JsonValue::Member& member : value.GetObject()) {
      SortMembers(member.value, pool);
      members.push_back(&member);
    }
    auto name = [](const JsonValue::Member* m) {
      return std::string_view(m->name.GetString(), m->name.GetStringLength());
    };
    std::stable_sort(members.begin(), members.end(), [&](auto* a, auto* b) { return name(a) < name(b); });
    JsonValue sorted(rapidjson::kObjectType);
    for (JsonValue::Member* member : members)
      sorted.AddMember(member->name, member->value, pool);
    value = sorted;
  }
}

template <class Writer>
std::string Write(const JsonValue& value, rapidjson::StringBuffer& buffer) {
  buffer.Clear();
  Writer writer(buffer);
  writer.SetMaxDecimalPlaces(324);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

using CompactWriter = rapidjson::Writer<rapidjson::StringBuffer>;
using PrettyWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// The decoded trees and the sorted documents the encoders walk; built once.
struct Prepared {
  explicit Prepared(std::size_t bytes) : pool(bytes) {}
  std::vector<BindingProperty> values;
  WarmPool pool;
  std::vector<Document*> documents;
};

Prepared& PreparedFor(const Corpus& corpus) {
  static std::map<std::string, Prepared> prepared;
  Prepared& p = prepared.try_emplace(corpus.name, corpus.bytes).first->second;
  if (p.values.empty()) {
    for (const std::string& text : corpus.documents) {
      ConversionResult result = DecodeJson(text);
      p.values.push_back(std::move(result.Value()));
      auto* document = new Document(&p.pool.pool);
      document->Parse(text.c_str());
      SortMembers(*document, p.pool.pool);
      p.documents.push_back(document);
    }
  }
  return p;
}

// Both sides agree on every document of every corpus, compact and pretty, before anything is timed.
void CheckAgreement() {
  rapidjson::StringBuffer buffer;
  for (const Corpus& corpus : Corpora()) {
    Prepared& p = PreparedFor(corpus);
    for (std::size_t i = 0; i < corpus.documents.size(); ++i) {
      const std::string ours = EncodeJson(DecodeJson(corpus.documents[i]).Value());
      const std::string oursPretty = EncodeJson(p.values[i], nullptr, "\n");
      if (ours != Write<CompactWriter>(*p.documents[i], buffer) ||
          oursPretty != Write<PrettyWriter>(*p.documents[i], buffer)) {
        std::fprintf(stderr, "%s: document %zu differs from the baseline's output\n", corpus.name, i);
        std::exit(1);
      }
    }
  }
}

void SetBytes(benchmark::State& state, const Corpus& corpus) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}

void DecodeOurs(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state) {
    for (const std::string& text : corpus->documents) {
      ConversionResult result = DecodeJson(text);
      benchmark::DoNotOptimize(result.Value().Count());
    }
  }
  SetBytes(state, *corpus);
}

void DecodeDocument(benchmark::State& state, const Corpus* corpus) {
  WarmPool warm(corpus->bytes);
  Document document(&warm.pool);
  for (auto _ : state) {
    for (const std::string& text : corpus->documents) {
      warm.pool.Clear();
      document.Parse(text.c_str());
      benchmark::DoNotOptimize(document.IsArray());
    }
  }
  SetBytes(state, *corpus);
}

void DecodeReader(benchmark::State& state, const Corpus* corpus) {
  rapidjson::BaseReaderHandler<> handler;
  for (auto _ : state) {
    for (const std::string& text : corpus->documents) {
      rapidjson::Reader reader;
      rapidjson::StringStream stream(text.c_str());
      benchmark::DoNotOptimize(reader.Parse(stream, handler).IsError());
    }
  }
  SetBytes(state, *corpus);
}

template <bool Pretty>
void EncodeOurs(benchmark::State& state, const Corpus* corpus) {
  const Prepared& p = PreparedFor(*corpus);
  for (auto _ : state) {
    for (const BindingProperty& value : p.values) {
      std::string text = EncodeJson(value, nullptr, Pretty ? "\n" : "");
      benchmark::DoNotOptimize(text.data());
    }
  }
  SetBytes(state, *corpus);
}

// Walks the trees into a visitor that does nothing: the part of encoding that is BindingProperty's.
class NullVisitor final : public Quarn::ValueVisitor {
 public:
  void Empty() override {}
  void Bool(bool) override {}
  void Signed(std::int64_t) override {}
  void Unsigned(std::uint64_t) override {}
  void Float(double) override {}
  void String(std::string_view) override {}
  void Blob(std::span<const std::uint8_t>) override {}
  void Enum(std::int32_t, const Quarn::TypeIdentifier*) override {}
  void BeginCollection(std::size_t) override {}
  void BeginElement(std::size_t) override {}
  void EndElement(std::size_t) override {}
  void EndCollection() override {}
  void BeginStructure(std::size_t) override {}
  void BeginField(std::string_view) override {}
  void EndField(std::string_view) override {}
  void EndStructure() override {}
};

void EncodeWalk(benchmark::State& state, const Corpus* corpus) {
  const Prepared& p = PreparedFor(*corpus);
  NullVisitor visitor;
  for (auto _ : state) {
    for (const BindingProperty& value : p.values)
      benchmark::DoNotOptimize(value.Accept(visitor));
  }
  SetBytes(state, *corpus);
}

template <bool Pretty>
void EncodeWriter(benchmark::State& state, const Corpus* corpus) {
  const Prepared& p = PreparedFor(*corpus);
  rapidjson::StringBuffer buffer;
  for (auto _ : state) {
    for (const Document* document : p.documents) {
      std::string text =
          Pretty ? Write<PrettyWriter>(*document, buffer) : Write<CompactWriter>(*document, buffer);
      benchmark::DoNotOptimize(text.data());
    }
  }
  SetBytes(state, *corpus);
}

// Hostile and wide inputs of about `bytes` bytes.
struct Scaled {
  const char* name;
  std::string (*make)(std::size_t bytes);
};

std::string Repeat(std::string_view piece, std::size_t bytes) {
  std::string text;
  while (text.size() < bytes)
    text += piece;
  return text;
}

// An object of distinct keys, about `bytes` long: in random order, or in ascending name order.
std::string WideObjectOf(std::size_t bytes, bool shuffled) {
  const std::size_t count = bytes / 16;
  std::vector<std::string> keys(count);
  for (std::size_t i = 0; i < count; ++i)
    keys[i] = "key" + std::to_string(i);
  if (shuffled) {
    BenchCorpora::Source source(5);
    for (std::size_t i = count; i > 1; --i)
      std::swap(keys[i - 1], keys[source.Below(i)]);
  } else {
    std::sort(keys.begin(), keys.end());
  }
  std::string text = "{";
  for (const std::string& key : keys) {
    if (text.size() > 1) text += ',';
    text += '"' + key + "\":" + key.substr(3);
  }
  return text + "}";
}

std::string WideObject(std::size_t bytes) {
  return WideObjectOf(bytes, true);
}

std::string WideObjectInOrder(std::size_t bytes) {
  return WideObjectOf(bytes, false);
}

bool IsWide(const Scaled& scaled) {
  return scaled.make == WideObject || scaled.make == WideObjectInOrder;
}

const Scaled kScaled[] = {
    {"brackets", [](std::size_t n) { return std::string(n, '['); }},
    {"open_members", [](std::size_t n) { return Repeat(R"({"a":)", n); }},
    {"digits", [](std::size_t n) { return std::string(n, '7'); }},
    {"fraction_digits", [](std::size_t n) { return "0." + std::string(n, '0') + "1"; }},
    {"exponent_digits", [](std::size_t n) { return "1.5e-" + std::string(n, '9'); }},
    {"string", [](std::size_t n) { return '"' + std::string(n, 'x') + '"'; }},
    {"wide_object", WideObject},
    {"wide_object_in_order", WideObjectInOrder},
};

// Sizes of the scaled inputs: base and double.
constexpr std::size_t kScaleBase = 1'000'000;
constexpr std::size_t kWideBase = 1'600'000;  // 100,000 keys

void DecodeScaled(benchmark::State& state, const Scaled* scaled, std::size_t bytes) {
  const std::string text = scaled->make(bytes);
  for (auto _ : state) {
    ConversionResult result = DecodeJson(text);
    benchmark::DoNotOptimize(result.Ok());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void WideDocument(benchmark::State& state, std::size_t bytes) {
  const std::string text = WideObject(bytes);
  WarmPool warm(text.size());
  Document document(&warm.pool);
  for (auto _ : state) {
    warm.pool.Clear();
    document.Parse(text.c_str());
    benchmark::DoNotOptimize(document.IsObject());
  }
}

void PrintGoal(const std::string& row, double ratio, double goal) {
  std::printf("  %-52s %8.3f  (goal %.2f: %s)\n", row.c_str(), ratio, goal, ratio <= goal ? "met" : "missed");
}

void PrintRatio(const CpuTimeReporter& reporter, const std::string& row, const std::string& ours,
                const std::string& theirs, double goal) {
  const double a = reporter.Time(ours);
  const double b = reporter.Time(theirs);
  if (a == 0.0 || b == 0.0) return;
  PrintGoal(row, a / b, goal);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CheckAgreement();
  for (const Corpus& corpus : Corpora()) {
    const std::string name = corpus.name;
    Repeated(benchmark::RegisterBenchmark(("Decode/Ours/" + name).c_str(), DecodeOurs, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Decode/Document/" + name).c_str(), DecodeDocument, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Decode/Reader/" + name).c_str(), DecodeReader, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Encode/Ours/" + name).c_str(), EncodeOurs<false>, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Encode/Writer/" + name).c_str(), EncodeWriter<false>, &corpus));
    Repeated(benchmark::RegisterBenchmark(("Encode/Walk/" + name).c_str(), EncodeWalk, &corpus));
    Repeated(benchmark::RegisterBenchmark(("EncodePretty/Ours/" + name).c_str(), EncodeOurs<true>, &corpus));
    Repeated(
        benchmark::RegisterBenchmark(("EncodePretty/Writer/" + name).c_str(), EncodeWriter<true>, &corpus));
  }
  for (const Scaled& scaled : kScaled) {
    const std::size_t base = IsWide(scaled) ? kWideBase : kScaleBase;
    for (std::size_t bytes : {base, 2 * base})
      Repeated(benchmark::RegisterBenchmark(
          ("Scale/" + std::string(scaled.name) + "/" + std::to_string(bytes)).c_str(), DecodeScaled, &scaled,
          bytes));
  }
  Repeated(benchmark::RegisterBenchmark(("Scale/wide_object_document/" + std::to_string(kWideBase)).c_str(),
                                        WideDocument, kWideBase));
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nRatios, ours / baseline (below 1: ours faster)\n");
  for (const Corpus& corpus : Corpora()) {
    const std::string name = corpus.name;
    std::printf("%s\n", corpus.name);
    const bool tiny = name.rfind("tiny", 0) == 0;
    PrintRatio(reporter, name + " DecodeJson / Document::Parse", "Decode/Ours/" + name,
               "Decode/Document/" + name, 2.0);
    PrintRatio(reporter, name + " DecodeJson / Reader (no-op)", "Decode/Ours/" + name,
               "Decode/Reader/" + name, 1.6);
    PrintRatio(reporter, name + " EncodeJson / Writer", "Encode/Ours/" + name, "Encode/Writer/" + name,
               tiny ? 1.5 : 1.15);
    PrintRatio(reporter, name + " EncodeJson pretty / PrettyWriter", "EncodePretty/Ours/" + name,
               "EncodePretty/Writer/" + name, 1.15);
    const double ours = reporter.Time("Decode/Ours/" + name);
    const double floor = reporter.Time("Decode/Reader/" + name);
    if (ours > 0.0 && floor > 0.0)
      std::printf("  %-34s %7.1f%%\n", "building share of DecodeJson", 100.0 * (ours - floor) / ours);
    const double encode = reporter.Time("Encode/Ours/" + name);
    const double walk = reporter.Time("Encode/Walk/" + name);
    const double writer = reporter.Time("Encode/Writer/" + name);
    if (encode > 0.0 && walk > 0.0 && writer > 0.0) {
      std::printf("  %-34s %7.1f%%\n", "walk share of EncodeJson", 100.0 * walk / encode);
      std::printf("  %-34s %8.3f\n", "(EncodeJson - walk) / Writer", (encode - walk) / writer);
    }
  }
  std::printf("\nScaling, time(2n) / time(n) (about 2: linear)\n");
  for (const Scaled& scaled : kScaled) {
    const std::size_t base = IsWide(scaled) ? kWideBase : kScaleBase;
    const std::string prefix = "Scale/" + std::string(scaled.name) + "/";
    const double a = reporter.Time(prefix + std::to_string(base));
    const double b = reporter.Time(prefix + std::to_string(2 * base));
    if (a > 0.0 && b > 0.0)
      std::printf("  %-20s n=%-8zu %8.3f ms  2n: %8.3f ms  ratio %5.2f\n", scaled.name, base, a / 1e6,
                  b / 1e6, b / a);
  }
  for (const Scaled& scaled : kScaled) {
    const std::string prefix = "Scale/" + std::string(scaled.name) + "/";
    const double a = reporter.Time(prefix + std::to_string(kWideBase));
    const double b = reporter.Time(prefix + std::to_string(2 * kWideBase));
    if (IsWide(scaled) && a > 0.0 && b > 0.0)
      PrintGoal(std::string(scaled.name) + " time(2n) / time(n), n = " + std::to_string(kWideBase) + " bytes",
                b / a, 2.3);
  }
  benchmark::Shutdown();
  return 0;
}
