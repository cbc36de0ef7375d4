// Calls the loadouts plugin's endpoints through the stand-in host core with arbitrary paths, queries and
// bodies, while the remote services, the inventory plugin and the game flow answer arbitrary things:
// every call must be answered and released, and the host must see no broken rule.
//
// Input: byte 0 picks the endpoint, byte 1 the remote answers' status, byte 2 the game-flow phase and
// queue; then texts separated by NUL bytes: the path after the endpoint's fixed part, the call's body,
// the remote services' answer body, and the inventory plugin's answer (JSON; a default when unreadable).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/host_core.h"
#include "loadouts/loadouts_plugin.h"

namespace {

using namespace Quarn;

struct Endpoint {
  const char* route;
  std::uint32_t method;
  const char* prefix;
};

constexpr Endpoint kEndpoints[] = {
    {"/gox-loadouts/v2/items/{id}/{inventoryType}", kHttpMethodGet, "/gox-loadouts/v2/items/"},
    {"/gox-loadouts/v2/items/{id}", kHttpMethodPost, "/gox-loadouts/v2/items/"},
    {"/gox-loadouts/v2/items/{id}", kHttpMethodDelete, "/gox-loadouts/v2/items/"},
    {"/gox-loadouts/v1/sendItemsToDuviRidaze/{id}", kHttpMethodPost,
     "/gox-loadouts/v1/sendItemsToDuviRidaze/"},
    {"/gox-loadouts/v1/inventory", kHttpMethodGet, "/gox-loadouts/v1/inventory"},
};
constexpr std::int32_t kStatuses[] = {200, 204, 302, 404, 500};
constexpr const char* kPhases[] = {"Lobby", "ChampSelect", "None"};

// Answers every outside request with the input's status and body.
class EchoTransport : public GoxHost::ExternalTransport {
 public:
  GoxHost::ExternalResult Send(const GoxHost::ExternalCall&) override { return answer; }
  GoxHost::ExternalResult answer;
};

std::uint32_t Entry(PluginRegistration* registration) {
  return LoadPlugin<Client::Loadouts::LoadoutsPlugin>(registration, "gox-loadouts");
}

GoxHost::JsonValue Json(std::string_view text, const char* fallback) {
  std::optional<GoxHost::JsonValue> value = GoxHost::JsonValue::Parse(text);
  return value ? std::move(*value) : GoxHost::JsonValue::Parse(fallback).value();
}

struct Harness {
  GoxHost::HostCore host;
  std::shared_ptr<EchoTransport> transport = std::make_shared<EchoTransport>();
  std::string signedAnswer;

  Harness() {
    host.SetResource("/gox-login/v1/session",
                     Json(R"({"state":"SUCCEEDED","summonerId":1,"accountId":2,"puuid":"p"})", "{}"));
    host.SetResource("/bxo-auth/v1/authorization/access-token", Json(R"({"token":"t"})", "{}"));
    host.SetResource(
        "/gox-platform-config/v1/namespaces/Loadouts",
        Json(R"({"InventoryServiceUrl":"http://i","LoadoutsServiceUrl":"http://l","Enabled":true})", "{}"));
    host.SetResource("/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes",
                     Json(R"(["A","B"])", "[]"));
    host.AddProvider({"/gox-inventory/v1/signedInventory", kHttpMethodGet},
                     [this](const GoxHost::ProviderRequest&) {
                       return GoxHost::ProviderAnswer::Ok(Json(signedAnswer, R"({"A":"jwt-A"})"));
                     });
    host.SetService([](const GoxHost::ServiceCall& call) {
      GoxHost::ServiceAnswer answer;
      answer.payload = "{}";
      if (call.payload.size() % 3 == 0) answer.error = "refused";
      return answer;
    });
    host.SetTransport(transport);
    if (host.Load(&Entry) != GoxHost::LoadStatus::kLoaded || !host.Initialize()) __builtin_trap();
  }
};

std::string_view NextText(std::string_view& rest) {
  const std::size_t end = rest.find('\0');
  const std::string_view text = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  if (size < 3) return 0;
  const Endpoint& endpoint = kEndpoints[data[0] % std::size(kEndpoints)];
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string_view path = NextText(rest);
  const std::string_view body = NextText(rest);
  const std::string_view answer = NextText(rest);
  harness.signedAnswer = std::string(NextText(rest));

  harness.transport->answer =
      GoxHost::ExternalResult{0, kStatuses[data[1] % std::size(kStatuses)], {}, std::string(answer)};
  const std::string phase = kPhases[data[2] % std::size(kPhases)];
  harness.host.PublishResource(
      "/gox-gameflow/v1/session",
      Json(R"({"phase":")" + phase + R"(","gameData":{"queue":{"isTeamBuilderManaged":)" +
               ((data[2] & 0x10) != 0 ? "true" : "false") + "}}}",
           "{}"));
  harness.host.DeliverPendingEvents();

  GoxHost::CallRequest request;
  request.method = endpoint.method;
  request.path = std::string(endpoint.prefix) + std::string(path);
  request.body = std::string(body);
  if (!body.empty()) request.contentType = "application/json";
  const GoxHost::CallResponse response = harness.host.Call(endpoint.route, endpoint.method, request);
  if (!response.released || !response.problems.empty()) __builtin_trap();
  if (!harness.host.Problems().empty() || harness.host.OutstandingResponses() != 0) __builtin_trap();
  harness.host.ClearRecords();
  return 0;
}
