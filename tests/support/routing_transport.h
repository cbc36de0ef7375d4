// RoutingTransport: an outside-request transport for tests that answers by method and URL and records
// what the module sent (URL, headers, body), so that a table row can script a whole exchange.
//
// A call is answered by the route of its method and its whole URL, query included, so that a request sent
// with a wrong or missing parameter finds no answer. An unrouted call fails with result -1 and the text
// kNoRoute.
//
//   auto transport = std::make_shared<RoutingTransport>();
//   transport->Route(kHttpMethodPost, "https://loadouts.test/loadouts/v3/items/get?puuid=p-1", {0, 200, {},
//   "{}"}); host.SetTransport(transport);

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/external_transport.h"

namespace Quarn {

class RoutingTransport : public GoxHost::ExternalTransport {
 public:
  static constexpr const char* kNoRoute = "no route";

  // Answers method on exactly url with answer from now on.
  void Route(std::uint32_t method, std::string url, GoxHost::ExternalResult answer);
  // The JSON answer with status 200.
  void RouteJson(std::uint32_t method, std::string url, std::string json, std::int32_t status = 200) {
    Route(method, std::move(url), GoxHost::ExternalResult{0, status, {}, std::move(json)});
  }
  void Clear() {
    routes_.clear();
    calls_.clear();
  }

  [[nodiscard]] GoxHost::ExternalResult Send(const GoxHost::ExternalCall& call) override;
  [[nodiscard]] const std::vector<GoxHost::ExternalCall>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

 private:
  std::map<std::pair<std::uint32_t, std::string>, GoxHost::ExternalResult> routes_;
  std::vector<GoxHost::ExternalCall> calls_;
};

}  // namespace Quarn
