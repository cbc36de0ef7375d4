// What gox-host's front door adds to a call: the same endpoint called directly on the host core (the
// module's own time, the baseline) and over HTTP through the front door with a keep-alive client.
// Two calls: an instant one (the module answers at once) and an inventory-style one (the module makes
// one outside request to an instant local server, as GET /gox-loadouts/v1/inventory does).
// Times are wall times: the work is spread over the client, the HTTP thread and the plugin thread.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/cpu_time_reporter.h"
#include "host/host_core.h"
#include "tests/support/local_http_server.h"
#include "tests/support/module/host_test_module.h"
#include "tools/gox_host/curl_transport.h"
#include "tools/gox_host/host_server.h"

namespace {

std::unique_ptr<GoxHostTest::LocalHttpServer> remote;
std::string instantPath;
std::string inventoryPath;

void CallDirectly(benchmark::State& state, const std::string& path, const char* pathTemplate) {
  GoxHost::HostCore host;
  host.SetTransport(std::make_shared<GoxHostApp::CurlTransport>());
  if (host.Load(GOX_HOST_TEST_MODULE_PATH) != GoxHost::LoadStatus::kLoaded || !host.Initialize()) {
    state.SkipWithError("the test module did not load");
    return;
  }
  const GoxHost::EndpointInfo* endpoint = host.Description().FindEndpoint(pathTemplate, kHttpMethodGet);
  GoxHost::CallRequest request;
  request.path = path;
  for (auto _ : state) {
    GoxHost::CallResponse response = host.Call(*endpoint, request);
    if (response.status != 0 && response.status != 200) {
      state.SkipWithError("the call failed");
      break;
    }
    benchmark::DoNotOptimize(response.body);
  }
  host.Shutdown();
}

void CallThroughFrontDoor(benchmark::State& state, const std::string& path) {
  GoxHostApp::HostLog log;
  GoxHostApp::HostServerOptions options;
  options.modulePaths = {GOX_HOST_TEST_MODULE_PATH};
  options.frontDoor.port = 0;
  GoxHostApp::HostServer server(options, log);
  if (server.Start()) {
    state.SkipWithError("gox-host did not start");
    return;
  }
  httplib::Client client("127.0.0.1", server.Port());
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  for (auto _ : state) {
    httplib::Result result = client.Get(path.c_str());
    if (!result || result->status != 200) {
      state.SkipWithError("the call failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
  server.Stop();
}

void PrintShare(const CpuTimeReporter& reporter, const char* row, const std::string& frontDoor,
                const std::string& module, double goal) {
  // Benchmarks timed by wall time carry the suffix "/real_time" in their names.
  const double through = reporter.RealTime(frontDoor + "/real_time");
  const double own = reporter.RealTime(module + "/real_time");
  if (through == 0.0 || own == 0.0) return;
  const double added = (through - own) / own;
  std::printf("  %-34s %8.0f calls/s  front door adds %6.2fx the module's own time  (goal %.1f: %s)\n", row,
              1e6 / through, added, goal, added <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  remote = std::make_unique<GoxHostTest::LocalHttpServer>([](httplib::Server& routes) {
    routes.Get("/inventory", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"({"data":{"items":{"EMOTE":[{"itemId":10}]}}})", "application/json");
    });
  });
  instantPath = "/gox-hosttest/v1/echo/7?text=x";
  inventoryPath = "/gox-hosttest/v1/external?url=" + remote->Url("/inventory");
  benchmark::RegisterBenchmark(
      "Module/instant",
      [](benchmark::State& state) { CallDirectly(state, instantPath, GoxHostTestModule::kEcho); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("FrontDoor/instant",
                               [](benchmark::State& state) { CallThroughFrontDoor(state, instantPath); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark(
      "Module/inventory_style",
      [](benchmark::State& state) { CallDirectly(state, inventoryPath, GoxHostTestModule::kExternal); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("FrontDoor/inventory_style",
                               [](benchmark::State& state) { CallThroughFrontDoor(state, inventoryPath); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nFront door (wall time per call)\n");
  PrintShare(reporter, "inventory-style call", "FrontDoor/inventory_style", "Module/inventory_style", 2.0);
  PrintShare(reporter, "instant call", "FrontDoor/instant", "Module/instant", 2.0);
  remote.reset();
  benchmark::Shutdown();
  return 0;
}
