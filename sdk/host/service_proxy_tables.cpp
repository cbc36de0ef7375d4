#include "sdk/host/service_proxy_tables.h"

#include <exception>
#include <utility>
#include <vector>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

constexpr const char* kKey = "%1.%2";
constexpr const char* kFulfilled = "%s: Fulfilled service proxy request: %s";
constexpr const char* kCompletionThrew = "%s: Completing service proxy request %s failed: %s";
constexpr const char* kNoAsyncHandler =
    "%s: Could not find registered handler for async service proxy event %s";

}  // namespace

std::string ServiceProxyKey(std::string_view service, std::string_view method) {
  return FormatString(kKey, service, method);
}

bool ServiceProxyTables::InFlight(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return inFlight_.contains(std::string(key));
}

bool ServiceProxyTables::Start(const std::string& key, Completion completion) {
  std::lock_guard lock(mutex_);
  if (!inFlight_.emplace(key, std::move(completion)).second) return false;
  MatchLocked();
  return true;
}

void ServiceProxyTables::Arrive(const std::string& key, const PluginServiceProxyResponse& answer) {
  {
    std::lock_guard lock(mutex_);
    arrived_.insert_or_assign(key, answer);
  }
  std::lock_guard lock(mutex_);
  MatchLocked();
}

void ServiceProxyTables::ArriveAsync(const std::string& key, const PluginServiceProxyResponse& answer) {
  std::lock_guard lock(mutex_);
  const auto found = asyncHandlers_.find(key);
  if (found == asyncHandlers_.end() || !found->second) {
    Log(kLogLevelError, kCategoryGeneral, kNoAsyncHandler, logName_.c_str(), key.c_str());
    return;
  }
  found->second(answer);
}

void ServiceProxyTables::SetAsyncHandler(const std::string& key, AsyncHandler handler) {
  std::lock_guard lock(mutex_);
  asyncHandlers_.insert_or_assign(key, std::move(handler));
}

void ServiceProxyTables::FailInFlight(const std::string& error) {
  std::unordered_map<std::string, Completion> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(inFlight_);
  }
  // Should even the answer's text not be had, the completions are dropped: their promises break, which
  // their waiters see as a failure too.
  PluginServiceProxyResponse answer;
  answer.error = error;
  for (auto& [key, completion] : waiting)
    completion(answer);
}

void ServiceProxyTables::Clear() {
  // The tables are taken out under the mutex and destroyed after it is released: destroying a
  // completion breaks its promise, which must not happen under the lock a waiter's code may need.
  std::unordered_map<std::string, Completion> inFlight;
  std::unordered_map<std::string, PluginServiceProxyResponse> arrived;
  std::unordered_map<std::string, AsyncHandler> asyncHandlers;
  std::lock_guard lock(mutex_);
  inFlight.swap(inFlight_);
  arrived.swap(arrived_);
  asyncHandlers.swap(asyncHandlers_);
}

void ServiceProxyTables::MatchLocked() {
  std::vector<std::string> matched;
  for (const auto& [key, answer] : arrived_) {
    const auto waiting = inFlight_.find(key);
    if (waiting == inFlight_.end()) continue;
    const Completion completion = std::move(waiting->second);
    inFlight_.erase(waiting);
    matched.push_back(key);
    // A completion that throws leaves its promise unfilled: destroyed with it, the promise tells the
    // waiter that no answer will come. The other pairs are still matched.
    try {
      if (completion) completion(answer);
    } catch (const std::exception& exception) {
      Log(kLogLevelError, kCategoryGeneral, kCompletionThrew, logName_.c_str(), key.c_str(),
          exception.what());
      continue;
    } catch (...) {
      Log(kLogLevelError, kCategoryGeneral, kCompletionThrew, logName_.c_str(), key.c_str(),
          "unknown exception");
      continue;
    }
    Log(kLogLevelAlways, kCategoryGeneral, kFulfilled, logName_.c_str(), key.c_str());
  }
  for (const std::string& key : matched)
    arrived_.erase(key);
}

}  // namespace Quarn
