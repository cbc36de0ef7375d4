// ServiceProxyTables: the service-proxy requests waiting for their answers, the answers that came
// before (or without) their request, and the handlers of unrequested (async) answers, under one mutex.
//
// A request waits under its key (the uuid the host returned, or "service.answerMethod"); an answer
// arrives under the same key. Whichever comes second completes the pair: the matching step runs the
// request's completion with the answer and forgets both. Completions and async handlers run while the
// mutex is held, so they must not start or answer another service-proxy request; the completions the
// bridge stores only convert the answer and fill a promise.

#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sdk/host/bridge_types.h"

namespace Quarn {

// "service.method": the key of a method request and of async handlers, and a request's name in logs.
[[nodiscard]] std::string ServiceProxyKey(std::string_view service, std::string_view method);

class ServiceProxyTables {
 public:
  // Runs once with the answer of the request it was stored for.
  using Completion = std::function<void(const PluginServiceProxyResponse& answer)>;
  using AsyncHandler = std::function<void(const PluginServiceProxyResponse& answer)>;

  // logName starts every log line (level 3 progress, level 2 errors).
  explicit ServiceProxyTables(const std::string& logName) : logName_(logName) {}
  ServiceProxyTables(const ServiceProxyTables&) = delete;
  ServiceProxyTables& operator=(const ServiceProxyTables&) = delete;

  // Whether a request waits under key.
  [[nodiscard]] bool InFlight(std::string_view key) const;

  // Stores completion under key and delivers an answer that already arrived under it. Returns false,
  // storing nothing, when a request waits under key already: its waiter keeps its place.
  [[nodiscard]] bool Start(const std::string& key, Completion completion);

  // Keeps answer under key (replacing an earlier unmatched one) and delivers it when a request waits.
  void Arrive(const std::string& key, const PluginServiceProxyResponse& answer);

  // Calls the async handler registered for key, or logs at level 2 that there is none.
  void ArriveAsync(const std::string& key, const PluginServiceProxyResponse& answer);

  // Registers the handler of unrequested answers under key ("service.method"), replacing an earlier one.
  void SetAsyncHandler(const std::string& key, AsyncHandler handler);

  // Answers every waiting request with the error text at once. For an answer that arrived and could
  // not be read: no one can tell whose it was, and its waiter would otherwise wait for ever.
  void FailInFlight(const std::string& error);

  // Forgets everything. Dropping a waiting request's completion abandons its promise, so its waiter
  // learns that no answer will come.
  void Clear();

 private:
  // REQUIRES: mutex_ held.
  void MatchLocked();

  const std::string& logName_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Completion> inFlight_;
  std::unordered_map<std::string, PluginServiceProxyResponse> arrived_;
  std::unordered_map<std::string, AsyncHandler> asyncHandlers_;
};

}  // namespace Quarn
