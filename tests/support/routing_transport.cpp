#include "tests/support/routing_transport.h"

namespace Quarn {

void RoutingTransport::Route(std::uint32_t method, std::string url, GoxHost::ExternalResult answer) {
  routes_[{method, std::move(url)}] = std::move(answer);
}

GoxHost::ExternalResult RoutingTransport::Send(const GoxHost::ExternalCall& call) {
  calls_.push_back(call);
  const auto found = routes_.find({call.method, call.url});
  if (found != routes_.end()) return found->second;
  return GoxHost::ExternalResult{-1, 0, {}, kNoRoute};
}

}  // namespace Quarn
