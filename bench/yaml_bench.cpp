// DecodeYaml against two baselines on the records corpus, in one run:
// - a bare libyaml event loop that fetches and discards every event (the floor: tokenising alone);
// - yaml-cpp's YAML::Load, which builds its own node tree.
// Each corpus is measured as flow YAML (the JSON text itself) and as a block-style rendering of the same
// records, at 64 KB and 4 MB. Prints the time ratios at the end.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "sdk/serialization/yaml_decoder.h"

namespace {

void AppendBlockScalar(std::string& out, const rapidjson::Value& value) {
  if (value.IsString()) {
    // The corpus's texts need no escapes, so a double-quoted scalar is the text between quotes.
    out += '"';
    out.append(value.GetString(), value.GetStringLength());
    out += '"';
  } else if (value.IsBool()) {
    out += value.GetBool() ? "true" : "false";
  } else if (value.IsNull()) {
    out += "null";
  } else if (value.IsUint64()) {
    out += std::to_string(value.GetUint64());
  } else if (value.IsInt64()) {
    out += std::to_string(value.GetInt64());
  } else {
    BenchCorpora::AppendNumber(out, value.GetDouble(), 17);
  }
}

// The records as a block sequence of block mappings; their small arrays become indented block sequences.
std::string BlockRecords(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str(), json.size());
  std::string out;
  for (const rapidjson::Value& record : document.GetArray()) {
    const char* indent = "- ";
    for (const auto& member : record.GetObject()) {
      out += indent;
      indent = "  ";
      out.append(member.name.GetString(), member.name.GetStringLength());
      out += ':';
      if (!member.value.IsArray()) {
        out += ' ';
        AppendBlockScalar(out, member.value);
      } else if (member.value.Empty()) {
        out += " []";
      } else {
        for (const rapidjson::Value& element : member.value.GetArray()) {
          out += "\n    - ";
          AppendBlockScalar(out, element);
        }
      }
      out += '\n';
    }
  }
  return out;
}

struct Corpus {
  std::string name;
  std::string text;
};

const std::vector<Corpus>& Corpora() {
  static const std::vector<Corpus> corpora = [] {
    std::vector<Corpus> made;
    for (const auto& [label, bytes] :
         {std::pair{"64K", std::size_t{64} << 10}, {"4M", std::size_t{4} << 20}}) {
      std::string json = BenchCorpora::Records(bytes);
      made.push_back({std::string("flow_") + label, json});
      made.push_back({std::string("block_") + label, BlockRecords(json)});
    }
    return made;
  }();
  return corpora;
}

void Decode(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    Quarn::ConversionResult result = Quarn::DecodeYaml(text);
    if (!result.Ok()) state.SkipWithError(std::string(result.Message()).c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BareEvents(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    yaml_event_t event;
    std::size_t events = 0;
    while (yaml_parser_parse(&parser, &event) != 0) {
      const bool end = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
      ++events;
      if (end) break;
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void YamlCppLoad(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    YAML::Node node = YAML::Load(text);
    benchmark::DoNotOptimize(node);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  for (const Corpus& corpus : Corpora()) {
    const std::string& text = corpus.text;
    benchmark::RegisterBenchmark(("DecodeYaml/" + corpus.name).c_str(), Decode, text)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BareEvents/" + corpus.name).c_str(), BareEvents, text)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("YamlCppLoad/" + corpus.name).c_str(), YamlCppLoad, text)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nDecodeYaml against the bare event loop (goal <= 1.3) and yaml-cpp (goal speed-up >= 3)\n");
  std::printf("%-10s %10s %12s %18s %16s\n", "corpus", "bytes", "MB/s (ours)", "ours / bare loop",
              "yaml-cpp / ours");
  for (const Corpus& corpus : Corpora()) {
    const double ours = reporter.Time("DecodeYaml/" + corpus.name);
    const double bare = reporter.Time("BareEvents/" + corpus.name);
    const double theirs = reporter.Time("YamlCppLoad/" + corpus.name);
    if (ours == 0.0 || bare == 0.0 || theirs == 0.0) continue;
    // CPU times in the benchmarks' unit, milliseconds: the machine is shared, so wall time is noisy.
    const double megabytesPerSecond = static_cast<double>(corpus.text.size()) / 1e6 / (ours / 1e3);
    std::printf("%-10s %10zu %12.1f %17.2fx %15.2fx\n", corpus.name.c_str(), corpus.text.size(),
                megabytesPerSecond, ours / bare, theirs / ours);
  }
  benchmark::Shutdown();
  return 0;
}
