// The loadouts endpoints, each called through the built module's call entry by the stand-in host core
// against an instant in-process transport, the inventory plugin's tokens and the team-builder service.
//
// Baseline, per endpoint: a floor plugin in the same kind of host with the same route and arguments whose
// handler does only the SDK work the call cannot avoid: encoding the remote request's body and decoding
// (and converting) the remote answer, besides the framework's own matching, binding and answer writing.
// The goal line per endpoint adds to the floor the host exchanges that endpoint makes (signed-token
// requests, remote requests, publications, service-proxy calls), each timed alone, so that the ratio
// endpoint / (floor + exchanges) is the plugin's share of a call; goal: at most 1.1 each. The ratio
// endpoint / floor is printed as information: it also holds the test host's side of those exchanges.
// Each endpoint row also reports the module's heap allocations per call (its own counters).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/cpu_time_reporter.h"
#include "host/host_core.h"
#include "loadouts/loadouts_endpoints.h"
#include "loadouts/loadouts_types.h"
#include "sdk/binding/native_converters.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/host/plugin_base.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"

namespace {

using namespace Quarn;
using namespace Quarn::Client::Loadouts;

constexpr const char* kLoadoutsBase = "http://loadouts.bench";
constexpr const char* kInventoryBase = "http://inventory.bench";

constexpr const char* kItemsAnswer = R"({"A":{"skin":3,"chroma":[1,2,3]},"B":{"ward":9}})";
constexpr const char* kSignedItemsAnswer = R"(["signed-1","signed-2"])";
constexpr const char* kInventoryAnswer =
    R"({"data":{"puuid":"p-1","accountId":22,"items":{"A":[{"itemId":1,"inventoryType":"A","quantity":1},)"
    R"({"itemId":2,"inventoryType":"A","quantity":1}],"B":[{"itemId":3,"inventoryType":"B","f2p":true}]},)"
    R"("expires":"later"}})";
constexpr const char* kItemsBody = R"({"A":{"skin":3,"chroma":[1,2,3]},"B":{"ward":9}})";

constexpr const char* kExchangeRoute = "/bench/v1/exchange/{kind}";

// The host exchanges each endpoint makes besides its body encoding and answer decoding; a kind's cost is
// its exchange endpoint's time less that of "none".
struct Exchanges {
  const char* endpoint;
  std::vector<const char*> kinds;
};
const Exchanges kExchanges[] = {
    {"get_items", {"tokens", "post"}},
    {"set_items", {"tokens", "post", "publish", "publish"}},
    {"delete_items", {"delete", "publish_deletion"}},
    {"send_items_to_game", {"tokens", "post", "service_proxy", "service_proxy"}},
    {"inventory", {"post"}},
};
constexpr const char* kExchangeKinds[] = {"none",    "tokens",           "post",         "delete",
                                          "publish", "publish_deletion", "service_proxy"};

struct EndpointCall {
  const char* name;
  const char* route;
  std::uint32_t method;
  const char* path;
  const char* body;
};

const EndpointCall kCalls[] = {
    {"get_items", kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/A", ""},
    {"set_items", kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7", kItemsBody},
    {"delete_items", kItemsRoute, kHttpMethodDelete, "/gox-loadouts/v2/items/7?inventoryType=A", ""},
    {"send_items_to_game", kSendItemsRoute, kHttpMethodPost, "/gox-loadouts/v1/sendItemsToDuviRidaze/7", ""},
    {"inventory", kInventoryRoute, kHttpMethodGet, R"(/gox-loadouts/v1/inventory?inventoryTypes=["A","B"])",
     ""},
};

// Answers at once by method and the URL up to its query.
class InstantTransport : public GoxHost::ExternalTransport {
 public:
  InstantTransport() {
    const std::string loadouts = kLoadoutsBase;
    answers_[{kHttpMethodPost, loadouts + "/loadouts/v3/items/get"}] = kItemsAnswer;
    answers_[{kHttpMethodPost, loadouts + "/loadouts/v3/items"}] = "{}";
    answers_[{kHttpMethodDelete, loadouts + "/loadouts/v3/items/7"}] = "";
    answers_[{kHttpMethodPost, loadouts + "/loadouts/v3/signedItems/get"}] = kSignedItemsAnswer;
    answers_[{kHttpMethodGet, std::string(kInventoryBase) + "/goxinventoryservice/v2/inventories"}] =
        kInventoryAnswer;
  }

  GoxHost::ExternalResult Send(const GoxHost::ExternalCall& call) override {
    const auto found = answers_.find({call.method, call.url.substr(0, call.url.find('?'))});
    if (found == answers_.end()) return GoxHost::ExternalResult{-1, 0, {}, "no route"};
    return GoxHost::ExternalResult{0, 200, {}, found->second};
  }

 private:
  std::map<std::pair<std::uint32_t, std::string>, std::string> answers_;
};

GoxHost::JsonValue Json(const std::string& text) {
  return GoxHost::JsonValue::Parse(text).value();
}

// A host with the other plugins' resources the loadouts plugin reads.
void PrepareHost(GoxHost::HostCore& host) {
  host.SetResource("/gox-login/v1/session",
                   Json(R"({"state":"SUCCEEDED","summonerId":1,"accountId":22,"puuid":"p-1"})"));
  host.SetResource("/bxo-auth/v1/authorization/access-token", Json(R"({"token":"t"})"));
  host.SetResource("/gox-platform-config/v1/namespaces/Loadouts",
                   Json(std::string(R"({"InventoryServiceUrl":")") + kInventoryBase +
                        R"(","LoadoutsServiceUrl":")" + kLoadoutsBase + R"(","Enabled":true})"));
  host.SetResource("/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes", Json(R"(["A","B"])"));
  host.SetResource("/gox-gameflow/v1/session", Json(R"({"phase":"Lobby"})"));
  host.AddProvider({"/gox-inventory/v1/signedInventory", kHttpMethodGet},
                   [](const GoxHost::ProviderRequest&) {
                     return GoxHost::ProviderAnswer::Ok(Json(R"({"A":"jwt-A","B":"jwt-B"})"));
                   });
  host.SetService([](const GoxHost::ServiceCall&) {
    GoxHost::ServiceAnswer answer;
    answer.payload = "{}";
    return answer;
  });
  host.SetTransport(std::make_shared<InstantTransport>());
}

// The floor: the same endpoints doing only the body encoding and answer decoding their calls need.
class FloorPlugin final : public PluginBase {
 public:
  void OnRegister() override {
    TypeRegistry& registry = OwnRegistry();
    RegisterLoadoutsTypes(registry, TypeNamePrefix());
    const auto& tags = DocumentationTags();
    RegisterEndpoint(registry, tags, kHttpMethodGet, kItemsOfTypeRoute,
                     MakeHandler([this](std::uint32_t id, std::string type) {
                       Encode(Api::GetItemsRequest{id, {type}, {"jwt-" + type}});
                       std::map<std::string, BindingProperty> items;
                       Decode(kItemsAnswer, items);
                       return std::move(items[type]);
                     }))
        .AddPathArgument("id", "")
        .AddPathArgument("inventoryType", "");
    RegisterEndpoint(registry, tags, kHttpMethodPost, kItemsRoute,
                     MakeHandler([this](std::uint32_t id, std::map<std::string, BindingProperty> items) {
                       Encode(Api::CreateOrUpdateItemsRequest{id, items, {"jwt-A", "jwt-B"}});
                       BindingProperty answer;
                       Decode("{}", answer);
                       return BindingProperty();
                     }))
        .AddPathArgument("id", "")
        .AddBodyArgument("items", "");
    RegisterEndpoint(registry, tags, kHttpMethodDelete, kItemsRoute,
                     MakeHandler([](std::uint32_t, std::string) { return BindingProperty(); }))
        .AddPathArgument("id", "")
        .AddQueryArgument("inventoryType", "");
    RegisterEndpoint(registry, tags, kHttpMethodPost, kSendItemsRoute, MakeHandler([this](std::uint32_t id) {
                       Encode(Api::GetItemsRequest{id, {"A", "B"}, {"jwt-A", "jwt-B"}});
                       std::vector<std::string> signedItems;
                       Decode(kSignedItemsAnswer, signedItems);
                       return BindingProperty();
                     }))
        .AddPathArgument("id", "");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kInventoryRoute,
                     MakeHandler([this](std::vector<std::string>) {
                       Api::InventoryResponseDTO answer;
                       Decode(kInventoryAnswer, answer);
                       Api::FrontendInventoryResponse response;
                       for (const auto& entry : answer.data.items) {
                         std::vector<Api::InventoryItemDTO> items;
                         ConversionResult converted;
                         ToNative(converted, items, entry.second, "<value>", OwnRegistry());
                         for (const auto& item : items)
                           response.entitlements.push_back({item.inventoryType, item.itemId});
                       }
                       return response;
                     }))
        .AddQueryArgument("inventoryTypes", "");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kExchangeRoute,
                     MakeHandler([this](std::string kind) { return Exchange(kind); }))
        .AddPathArgument("kind", "");
  }

 private:
  // One exchange with the host core of the kinds the endpoints make, alone.
  BindingProperty Exchange(const std::string& kind) {
    const std::string loadouts = kLoadoutsBase;
    const std::map<std::string, std::string> headers = {{"Authorization", "Bearer t"},
                                                        {"Content-type", "application/json"}};
    const auto external = [&](std::uint32_t method, std::string url) {
      ExternalRequest request{method, std::move(url), headers, "", 60, 0, 1};
      benchmark::DoNotOptimize(SendExternalRequest(request).status);
    };
    if (kind == "tokens") {
      const std::vector<std::string> types = {"A", "B"};
      benchmark::DoNotOptimize(SendRequest<std::map<std::string, std::string>>(
                                   kHttpMethodGet, "/gox-inventory/v1/signedInventory", types)
                                   .Ok());
    } else if (kind == "post") {
      external(kHttpMethodPost, loadouts + "/loadouts/v3/items?puuid=p-1");
    } else if (kind == "delete") {
      external(kHttpMethodDelete, loadouts + "/loadouts/v3/items/7?inventoryType=A&puuid=p-1");
    } else if (kind == "publish") {
      BindingProperty value;
      value.Field("skin").SetUnsigned(3);
      (void)PublishResource("/gox-loadouts/v2/items/7/A", value);
    } else if (kind == "publish_deletion") {
      (void)PublishResourceDeletion("/gox-loadouts/v2/items/7/A");
    } else if (kind == "service_proxy") {
      BindingProperty payload;
      payload.Field("prefix").SetString("loadouts");
      payload.Field("signedJWT").SetString("signed-1");
      (void)CallServiceProxyAndWait<BindingProperty, BindingProperty>("teambuilder-draft",
                                                                      "setGameCustomizationV1", payload);
    }
    return BindingProperty();
  }

  template <class T>
  void Encode(const T& request) {
    ConversionResult converted;
    ToProperty(converted, request, OwnRegistry());
    benchmark::DoNotOptimize(EncodeJson(converted.Value(), &OwnRegistry(), "\r\n"));
  }

  template <class T>
  void Decode(const char* json, T& value) {
    const ConversionResult decoded = DecodeJson(json);
    ConversionResult converted;
    ToNative(converted, value, decoded.Value(), "<value>", OwnRegistry());
    benchmark::DoNotOptimize(converted.Ok());
  }
};

std::uint32_t FloorEntry(PluginRegistration* registration) {
  return LoadPlugin<FloorPlugin>(registration, "gox-loadouts");
}

struct Hosts {
  GoxHost::HostCore module;
  GoxHost::HostCore floor;
  bool ready = false;

  Hosts() {
    PrepareHost(module);
    PrepareHost(floor);
    ready = module.Load(GOX_MODULE_PATH) == GoxHost::LoadStatus::kLoaded && module.Initialize() &&
            floor.Load(&FloorEntry) == GoxHost::LoadStatus::kLoaded && floor.Initialize();
  }
};

Hosts& Shared() {
  static Hosts hosts;
  return hosts;
}

GoxHost::CallRequest RequestOf(const EndpointCall& call) {
  GoxHost::CallRequest request;
  request.method = call.method;
  request.path = call.path;
  request.body = call.body;
  if (*call.body != '\0') request.contentType = "application/json";
  return request;
}

void Run(benchmark::State& state, GoxHost::HostCore& host, const EndpointCall& call, bool countAllocations) {
  if (!Shared().ready) return state.SkipWithError("the hosts did not start");
  const GoxHost::EndpointInfo* endpoint = host.Description().FindEndpoint(call.route, call.method);
  if (endpoint == nullptr) return state.SkipWithError("no such endpoint");
  const GoxHost::CallRequest request = RequestOf(call);
  const GoxHost::CallResponse first = host.Call(*endpoint, request);
  if (first.status != 0) return state.SkipWithError(first.error.value_or("failed").c_str());
  const std::uint64_t before = host.GetMemoryStats().allocationCount;
  for (auto _ : state) {
    GoxHost::CallResponse response = host.Call(*endpoint, request);
    benchmark::DoNotOptimize(response.status);
    host.ClearRecords();
  }
  if (countAllocations) {
    const double allocations = static_cast<double>(host.GetMemoryStats().allocationCount - before);
    state.counters["module_allocs_per_call"] = allocations / static_cast<double>(state.iterations());
  }
}

void PrintRatio(const CpuTimeReporter& reporter, const char* name) {
  const double ours = reporter.Time(std::string("Endpoint/") + name);
  const double floor = reporter.Time(std::string("Floor/") + name);
  if (ours == 0.0 || floor == 0.0) return;
  std::printf("  %-40s %7.3f\n", name, ours / floor);
}

// The endpoint against its floor plus the host exchanges it makes: what is left is the plugin's own work.
void PrintOwnShare(const CpuTimeReporter& reporter, const Exchanges& exchanges) {
  const double ours = reporter.Time(std::string("Endpoint/") + exchanges.endpoint);
  const double none = reporter.Time("Exchange/none");
  double baseline = reporter.Time(std::string("Floor/") + exchanges.endpoint);
  for (const char* kind : exchanges.kinds)
    baseline += reporter.Time(std::string("Exchange/") + kind) - none;
  if (ours == 0.0 || baseline <= 0.0) return;
  const double share = ours / baseline;
  std::printf("  %-40s %7.3f  (goal 1.10: %s)\n", exchanges.endpoint, share, share <= 1.1 ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
  // The stand-in host core keeps its JSON in documents that each start a 64 KiB pool; left to itself,
  // glibc gives the top of the heap back after every call and takes it again with the next (brk was a
  // quarter of a store's profile). A host that runs for long keeps that memory, so the bench does too.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  benchmark::Initialize(&argc, argv);
  for (const EndpointCall& call : kCalls) {
    Repeated(benchmark::RegisterBenchmark(
        (std::string("Endpoint/") + call.name).c_str(),
        [&call](benchmark::State& state) { Run(state, Shared().module, call, true); }));
    Repeated(benchmark::RegisterBenchmark(
        (std::string("Floor/") + call.name).c_str(),
        [&call](benchmark::State& state) { Run(state, Shared().floor, call, false); }));
  }
  for (const char* kind : kExchangeKinds) {
    Repeated(benchmark::RegisterBenchmark(
        (std::string("Exchange/") + kind).c_str(), [kind](benchmark::State& state) {
          const std::string path = std::string("/bench/v1/exchange/") + kind;
          const EndpointCall call{kind, kExchangeRoute, kHttpMethodGet, path.c_str(), ""};
          Run(state, Shared().floor, call, false);
        }));
  }
  CpuTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf(
      "\nEndpoint / floor (information: the SDK work the call cannot avoid, and the host's exchanges)\n");
  for (const EndpointCall& call : kCalls)
    PrintRatio(reporter, call.name);
  std::printf("\nEndpoint / (floor + the host exchanges it makes alone): the plugin's own share\n");
  for (const Exchanges& exchanges : kExchanges)
    PrintOwnShare(reporter, exchanges);
  Shared().module.Shutdown();
  Shared().floor.Shutdown();
  benchmark::Shutdown();
  return 0;
}
