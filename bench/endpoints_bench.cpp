// HandleCall, the whole path of an endpoint call (match, bind, invoke a handler that does nothing, write
// and release the response), for a literal route, a route with two path parameters and a POST with a
// path parameter and a 1 KB JSON body; the baseline is DecodeJson of that body alone. Goals: the two
// path parameters cost at most 3x the literal route, and the POST at most 2x decoding its body, that
// is, matching and binding cost less than decoding.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_corpora.h"
#include "bench/cpu_time_reporter.h"
#include "sdk/endpoints/call_dispatch.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/serialization/json_decoder.h"

namespace {

using namespace Quarn;

struct Setup {
  TypeRegistry registry;
  std::vector<std::unique_ptr<EndpointCallContext>> contexts;
  std::string body = BenchCorpora::Records(1 << 10);

  Setup() {
    registry.Initialize();
    const std::vector<std::string> tags;
    const auto add = [&](EndpointBuilder builder) {
      contexts.push_back(MakeCallContext(registry, builder.Function()));
    };
    add(RegisterEndpoint(registry, tags, kHttpMethodGet, "/gox-loadouts/v2/inventory", MakeHandler([] {})));
    add(RegisterEndpoint(registry, tags, kHttpMethodGet, "/gox-loadouts/v2/items/{id}/{inventoryType}",
                         MakeHandler([](std::string, std::string) {}))
            .AddPathArgument("id", "")
            .AddPathArgument("inventoryType", ""));
    add(RegisterEndpoint(registry, tags, kHttpMethodPost, "/gox-loadouts/v2/items/{id}",
                         MakeHandler([](std::string, BindingProperty) {}))
            .AddPathArgument("id", "")
            .AddBodyArgument("item", ""));
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void Call(benchmark::State& state, std::size_t endpoint, std::uint32_t method, const char* path,
          bool withBody) {
  Setup& setup = Shared();
  PluginRequest request{};
  request.method = method;
  request.path = path;
  request.context = setup.contexts[endpoint].get();
  if (withBody) {
    request.contentType = "application/json";
    request.body = setup.body.data();
    request.bodyLength = static_cast<std::uint32_t>(setup.body.size());
  }
  PluginResponse response{};
  HandleCall(&response, &request);
  if (response.error != nullptr) state.SkipWithError(response.error);
  response.release(&response);
  for (auto _ : state) {
    HandleCall(&response, &request);
    benchmark::DoNotOptimize(response.status);
    response.release(&response);
  }
}

void Literal(benchmark::State& state) {
  Call(state, 0, kHttpMethodGet, "/gox-loadouts/v2/inventory", false);
}
void TwoPathArguments(benchmark::State& state) {
  Call(state, 1, kHttpMethodGet, "/gox-loadouts/v2/items/12345/Skins", false);
}
void PostWithBody(benchmark::State& state) {
  Call(state, 2, kHttpMethodPost, "/gox-loadouts/v2/items/12345", true);
}
void DecodeBody(benchmark::State& state) {
  const std::string& body = Shared().body;
  for (auto _ : state) {
    ConversionResult result = DecodeJson(body.data(), body.size());
    benchmark::DoNotOptimize(result.Ok());
  }
}

void PrintRatio(const CpuTimeReporter& reporter, const char* row, const std::string& ours,
                const std::string& baseline, double goal) {
  const double a = reporter.Time(ours);
  const double b = reporter.Time(baseline);
  if (a == 0.0 || b == 0.0) return;
  const double ratio = a / b;
  std::printf("  %-40s %7.3f  (goal %.2f: %s)\n", row, ratio, goal, ratio <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Repeated(benchmark::RegisterBenchmark("HandleCall/literal", Literal));
  Repeated(benchmark::RegisterBenchmark("HandleCall/two_path_arguments", TwoPathArguments));
  Repeated(benchmark::RegisterBenchmark("HandleCall/post_1k_json", PostWithBody));
  Repeated(benchmark::RegisterBenchmark("DecodeJson/1k_body", DecodeBody));
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios\n");
  PrintRatio(reporter, "two path arguments / literal", "HandleCall/two_path_arguments", "HandleCall/literal",
             3.0);
  PrintRatio(reporter, "POST with 1 KB JSON / DecodeJson of it", "HandleCall/post_1k_json",
             "DecodeJson/1k_body", 2.0);
  std::printf("  per document: DecodeJson of the 1 KB body %8.2f us\n",
              reporter.Time("DecodeJson/1k_body") / 1e3);
  benchmark::Shutdown();
  return 0;
}
