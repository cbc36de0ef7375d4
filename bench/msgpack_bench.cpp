// DecodeMessagePack against msgpack-cxx's unpack (the baseline, its zone reused between runs) on the
// same bytes: the records corpus at 1 KB, 64 KB and 4 MB packed from its JSON text, and a thousand tiny
// one-record documents. Both decoders' trees are checked to hold the same number of values before any
// timing. The JSON text of the same records is also parsed by RapidJSON's Document, for the cost of
// reading MessagePack against reading JSON. The run ends with the time ratios.

#include <benchmark/benchmark.h>

#define MSGPACK_NO_BOOST
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <msgpack.hpp>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "rapidjson/document.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/msgpack_decoder.h"

namespace {

using Quarn::BindingKind;
using Quarn::BindingProperty;

struct Corpus {
  std::string name;
  std::vector<std::string> json;                  // the documents as JSON text
  std::vector<std::vector<std::uint8_t>> packed;  // the same documents as MessagePack
  std::size_t bytes = 0;                          // MessagePack bytes in all documents
};

void Pack(msgpack::packer<msgpack::sbuffer>& packer, const rapidjson::Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
      packer.pack_nil();
      break;
    case rapidjson::kFalseType:
      packer.pack_false();
      break;
    case rapidjson::kTrueType:
      packer.pack_true();
      break;
    case rapidjson::kNumberType:
      if (value.IsInt64()) {
        packer.pack_int64(value.GetInt64());
      } else if (value.IsUint64()) {
        packer.pack_uint64(value.GetUint64());
      } else {
        packer.pack_double(value.GetDouble());
      }
      break;
    case rapidjson::kStringType:
      packer.pack_str(value.GetStringLength());
      packer.pack_str_body(value.GetString(), value.GetStringLength());
      break;
    case rapidjson::kArrayType:
      packer.pack_array(value.Size());
      for (const rapidjson::Value& element : value.GetArray())
        Pack(packer, element);
      break;
    case rapidjson::kObjectType:
      packer.pack_map(value.MemberCount());
      for (const auto& member : value.GetObject()) {
        Pack(packer, member.name);
        Pack(packer, member.value);
      }
      break;
  }
}

Corpus MakeCorpus(std::string name, std::vector<std::string> json) {
  Corpus corpus{std::move(name), std::move(json), {}, 0};
  for (const std::string& text : corpus.json) {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    if (document.HasParseError()) std::abort();
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    Pack(packer, document);
    const auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data());
    corpus.packed.emplace_back(data, data + buffer.size());
    corpus.bytes += buffer.size();
  }
  return corpus;
}

const std::vector<Corpus>& Corpora() {
  static const std::vector<Corpus> corpora = [] {
    std::vector<Corpus> made;
    made.push_back(MakeCorpus("records_1KB", {BenchCorpora::Records(1 << 10)}));
    made.push_back(MakeCorpus("records_64KB", {BenchCorpora::Records(64 << 10)}));
    made.push_back(MakeCorpus("records_4MB", {BenchCorpora::Records(4 << 20)}));
    made.push_back(MakeCorpus("tiny_x1000", BenchCorpora::Tiny(1000)));
    return made;
  }();
  return corpora;
}

// Values in a tree, containers included.
std::size_t CountValues(const BindingProperty& value) {
  std::size_t count = 1;
  if (value.Kind() == BindingKind::Collection) {
    for (const BindingProperty& element : value.Elements())
      count += CountValues(element);
  } else if (value.Kind() == BindingKind::Structure) {
    for (const auto field : value.Fields())
      count += CountValues(field.value);
  }
  return count;
}

std::size_t CountValues(const msgpack::object& value) {
  std::size_t count = 1;
  if (value.type == msgpack::type::ARRAY) {
    for (std::uint32_t i = 0; i < value.via.array.size; ++i)
      count += CountValues(value.via.array.ptr[i]);
  } else if (value.type == msgpack::type::MAP) {
    for (std::uint32_t i = 0; i < value.via.map.size; ++i)
      count += CountValues(value.via.map.ptr[i].val);
  }
  return count;
}

// Both decoders read every document whole and find the same number of values, or the run stops.
void CheckAgreement(const Corpus& corpus) {
  for (const std::vector<std::uint8_t>& bytes : corpus.packed) {
    Quarn::ConversionResult result;
    std::size_t consumed = 0;
    Quarn::DecodeMessagePack(result, consumed, bytes.data(), bytes.size());
    msgpack::zone zone;
    std::size_t offset = 0;
    const msgpack::object object =
        msgpack::unpack(zone, reinterpret_cast<const char*>(bytes.data()), bytes.size(), offset);
    if (!result.Ok() || consumed != bytes.size() || offset != bytes.size() ||
        CountValues(result.Value()) != CountValues(object)) {
      std::fprintf(stderr, "%s: the decoders disagree (%s)\n", corpus.name.c_str(),
                   std::string(result.Message()).c_str());
      std::abort();
    }
  }
}

void Ours(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state) {
    for (const std::vector<std::uint8_t>& bytes : corpus->packed) {
      Quarn::ConversionResult result;
      std::size_t consumed = 0;
      Quarn::DecodeMessagePack(result, consumed, bytes.data(), bytes.size());
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->bytes));
}

void MsgpackCxx(benchmark::State& state, const Corpus* corpus) {
  msgpack::zone zone;
  for (auto _ : state) {
    for (const std::vector<std::uint8_t>& bytes : corpus->packed) {
      std::size_t offset = 0;
      msgpack::object object =
          msgpack::unpack(zone, reinterpret_cast<const char*>(bytes.data()), bytes.size(), offset);
      benchmark::DoNotOptimize(object);
      zone.clear();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus->bytes));
}

void RapidJsonDocument(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state) {
    for (const std::string& text : corpus->json) {
      rapidjson::Document document;
      document.Parse(text.data(), text.size());
      benchmark::DoNotOptimize(document);
    }
  }
}

void OurJson(benchmark::State& state, const Corpus* corpus) {
  for (auto _ : state) {
    for (const std::string& text : corpus->json) {
      Quarn::ConversionResult result = Quarn::DecodeJson(text);
      benchmark::DoNotOptimize(result);
    }
  }
}

const char* const kContenders[] = {"DecodeMessagePack", "msgpack::unpack", "RapidJSON::Parse", "DecodeJson"};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const Corpus& corpus : Corpora()) {
    CheckAgreement(corpus);
    Repeated(benchmark::RegisterBenchmark((corpus.name + "/" + kContenders[0]).c_str(), Ours, &corpus));
    Repeated(benchmark::RegisterBenchmark((corpus.name + "/" + kContenders[1]).c_str(), MsgpackCxx, &corpus));
    Repeated(benchmark::RegisterBenchmark((corpus.name + "/" + kContenders[2]).c_str(), RapidJsonDocument,
                                          &corpus));
    Repeated(benchmark::RegisterBenchmark((corpus.name + "/" + kContenders[3]).c_str(), OurJson, &corpus));
  }
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nDecodeMessagePack CPU time over each baseline's\n");
  std::printf("%-14s %12s %20s %20s %16s\n", "corpus", "msgpack KB", "vs msgpack::unpack",
              "vs RapidJSON::Parse", "vs DecodeJson");
  for (const Corpus& corpus : Corpora()) {
    const auto time = [&](const char* contender) { return reporter.Time(corpus.name + "/" + contender); };
    const double ours = time(kContenders[0]);
    std::printf("%-14s %12.1f %20.3f %20.3f %16.3f\n", corpus.name.c_str(), corpus.bytes / 1024.0,
                ours / time(kContenders[1]), ours / time(kContenders[2]), ours / time(kContenders[3]));
  }
  std::printf("\nGoals\n");
  for (const Corpus& corpus : Corpora()) {
    if (corpus.name.rfind("records", 0) != 0) continue;
    const auto time = [&](const char* contender) { return reporter.Time(corpus.name + "/" + contender); };
    const auto goal = [&](const char* against, double ratio, double limit) {
      if (ratio <= 0.0) return;
      std::printf("  %-52s %8.3f  (goal %.2f: %s)\n",
                  (corpus.name + " DecodeMessagePack / " + against).c_str(), ratio, limit,
                  ratio <= limit ? "met" : "missed");
    };
    const double ours = time(kContenders[0]);
    goal("DecodeJson", ours / time(kContenders[3]), 0.6);
    if (corpus.name != "records_1KB") goal("msgpack::unpack", ours / time(kContenders[1]), 2.5);
  }
  benchmark::Shutdown();
  return 0;
}
