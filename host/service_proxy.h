// ServiceProxyStandIn: the login plugin's service-proxy resources, answering later as events.
//
// The module posts a service-proxy request to one of two paths and gets its answer as an event:
//   POST /gox-login/v1/service-proxy-uuid-requests   (service, method, host handle, payload)
//        answers a uuid text at once, then the event "OnServiceProxyUuidEvent" for that uuid;
//   POST /gox-login/v1/service-proxy-method-requests (service, method, answer method, extra, host
//        handle, payload) answers no body, then the event "OnServiceProxyMethodEvent" whose methodName
//        is the answer method.
// Either event's payload is a structure of texts {uuid, serviceName, methodName, payload, status,
// error}. What the service answers, and when, comes from a ServiceFunction.

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/json_value.h"
#include "host/request_router.h"

namespace GoxHost {

inline constexpr const char* kServiceProxyUuidPath = "/gox-login/v1/service-proxy-uuid-requests";
inline constexpr const char* kServiceProxyMethodPath = "/gox-login/v1/service-proxy-method-requests";
inline constexpr const char* kServiceProxyUuidEvent = "OnServiceProxyUuidEvent";
inline constexpr const char* kServiceProxyMethodEvent = "OnServiceProxyMethodEvent";

// A request as the service sees it.
struct ServiceCall {
  std::string service;
  std::string method;
  std::string answerMethod;  // empty for uuid requests
  std::string extra;         // empty for uuid requests
  std::string payload;       // JSON text
};

// The service's answer and its timing. The answer event is queued during the `delayYields`-th yield
// after the post (0: at once, delivered when the host next drains its queue). With `duringPost` set it
// is instead delivered to the module's listener inside the post itself, before the post returns.
struct ServiceAnswer {
  std::string payload;
  std::string status = "200";
  std::string error;
  std::uint32_t delayYields = 0;
  bool duringPost = false;
};

using ServiceFunction = std::function<ServiceAnswer(const ServiceCall& call)>;

class ServiceProxyStandIn {
 public:
  // `queue` queues an event; `deliverNow` delivers one at once on the plugin thread.
  using EventSink = std::function<void(const std::string& name, const JsonValue& payload)>;

  ServiceProxyStandIn(std::uint32_t hostHandle, EventSink queue, EventSink deliverNow);

  // Installs the service; without one every request is answered with the error kNoService.
  void SetService(ServiceFunction service) { service_ = std::move(service); }

  // The two providers, for the request router.
  [[nodiscard]] ProviderAnswer HandleUuidRequest(const ProviderRequest& request);
  [[nodiscard]] ProviderAnswer HandleMethodRequest(const ProviderRequest& request);

  // Counts one yield and queues the answers that became due.
  void OnYield();

  // The calls received, in order.
  [[nodiscard]] const std::vector<ServiceCall>& Calls() const { return calls_; }
  // Answers not yet queued.
  [[nodiscard]] std::size_t PendingAnswers() const { return pending_.size(); }

  static constexpr const char* kNoService = "no service installed";

 private:
  struct Pending {
    std::uint64_t dueYield = 0;
    std::string event;
    JsonValue payload;
  };

  void Dispatch(const ServiceCall& call, const std::string& event, const std::string& uuid,
                const std::string& methodName);

  std::uint32_t hostHandle_;
  EventSink queue_;
  EventSink deliverNow_;
  ServiceFunction service_;
  std::vector<ServiceCall> calls_;
  std::vector<Pending> pending_;
  std::uint64_t yields_ = 0;
  std::uint64_t nextUuid_ = 1;
};

}  // namespace GoxHost
