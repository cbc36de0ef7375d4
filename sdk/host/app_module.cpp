#include "sdk/host/app_module.h"

#include <cstring>
#include <utility>
#include <vector>

#include "sdk/async/host_entry.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/host/resource_paths.h"
#include "sdk/host/telemetry_sender.h"

namespace Quarn {
namespace {

constexpr const char* kPayloadName = "<result>";
// %1 the log name, %2 the resource path.
constexpr const char* kInitialValueLost = "%s: Couldn't read the current value of %s: out of memory";
// The failure of every waiting service-proxy request when an answer could not be read.
constexpr const char* kAnswerLost = "Service proxy answer lost: out of memory";

// An answer some request may be waiting for (async answers have no waiter).
bool IsAwaitedAnswer(std::string_view name) {
  return name == kServiceProxyUuidEvent || name == kServiceProxyMethodEvent;
}

// %1 the log name, %2 the event name, %3 what was thrown.
constexpr const char* kEventThrew = "%s: Handling event %s failed: %s";

// The payload of an event record as a value; the failure text when it cannot be converted.
MaybeType<BindingProperty> PayloadOf(const PluginEventRecord& event) {
  BindingProperty payload;
  HostValueError error{};
  if (!FromHost(error, payload, event.payload, kPayloadName)) {
    std::string message = error.message != nullptr ? error.message : "";
    ReleaseHostValueError(error);
    return Failure(std::move(message));
  }
  return payload;
}

}  // namespace

AppModule::AppModule() = default;

AppModule::~AppModule() = default;

void AppModule::Subscribe(std::string_view path) {
  const std::string name = EventNameOfPath(path);
  if (++subscriptionCounts_[name] != 1) return;
  Trace("%s: Subscribing to event: %s", logName_.c_str(), name.c_str());
  RegisterEventHandler(
      name,
      [this](const BindingProperty& payload) {
        PluginResourceEvent event;
        ConversionResult result;
        ToNative(result, event, payload, kPayloadName, *registry_);
        if (!result.Ok()) return;
        DispatchToListeners(event);
      },
      kResourceEventFlag);
}

void AppModule::NoteLostInitialValue(std::string_view path) {
  ++lostInitialValues_;
  Log(kLogLevelError, kCategoryDebug, kInitialValueLost, logName_.c_str(), std::string(path).c_str());
}

void AppModule::Unsubscribe(std::string_view path) {
  const std::string name = EventNameOfPath(path);
  const auto found = subscriptionCounts_.find(name);
  if (found == subscriptionCounts_.end() || found->second <= 0) return;
  if (--found->second != 0) return;
  HostUnregisterEvent(name.c_str(), hostHandle_);
  eventHandlers_.erase(name);
  Trace("%s: Unsubscribing to event: %s", logName_.c_str(), name.c_str());
}

std::int32_t AppModule::SubscriptionCount(std::string_view path) const {
  const auto found = subscriptionCounts_.find(EventNameOfPath(path));
  return found == subscriptionCounts_.end() ? 0 : found->second;
}

void AppModule::UnregisterAll() {
  // Names are collected first: unregistering may deliver nothing, but a handler table that changes
  // under the walk would.
  std::vector<std::string> names;
  names.reserve(eventHandlers_.size());
  for (const auto& entry : eventHandlers_)
    names.push_back(entry.first);
  for (const std::string& name : names)
    HostUnregisterEvent(name.c_str(), hostHandle_);
  eventHandlers_.clear();
  ClearListeners();
  serviceProxy_.Clear();
}

void AppModule::RegisterEventHandler(std::string_view name, EventHandler handler, std::uint32_t flag) {
  const std::string key(name);
  eventHandlers_[key] = std::make_shared<EventHandler>(std::move(handler));
  PluginEventCallback callback = flag == kServiceProxyEventFlag ? &AppModule::ServiceProxyEventCallback
                                                                : &AppModule::ResourceEventCallback;
  HostRegisterEvent(key.c_str(), hostHandle_, callback, this, flag);
}

void AppModule::ResourceEventCallback(const PluginEventRecord* event) noexcept {
  if (event == nullptr || event->context == nullptr) return;
  const HostEntry entry;
  static_cast<AppModule*>(event->context)->DeliverCaught(event);
}

void AppModule::ServiceProxyEventCallback(const PluginEventRecord* event) noexcept {
  if (event == nullptr || event->context == nullptr) return;
  const HostEntry entry;
  static_cast<AppModule*>(event->context)->DeliverCaught(event);
}

void AppModule::DeliverCaught(const PluginEventRecord* event) noexcept {
  const char* name = event->name != nullptr ? event->name : "";
  try {
    DeliverEvent(event);
  } catch (const std::exception& exception) {
    Log(kLogLevelError, kCategoryGeneral, kEventThrew, logName_.c_str(), name, exception.what());
  } catch (...) {
    Log(kLogLevelError, kCategoryGeneral, kEventThrew, logName_.c_str(), name, "unknown exception");
  }
}

void AppModule::DeliverEvent(const PluginEventRecord* event) {
  // Events that arrive once shutdown began find the tables emptied or about to be; they are dropped.
  if (finalizing_ != 0 || event->name == nullptr) return;
  const auto found = eventHandlers_.find(event->name);
  if (found == eventHandlers_.end()) return;
  // The handler is held while it runs, so that it may replace or remove its own registration.
  const std::shared_ptr<EventHandler> handler = found->second;
  const std::uint64_t refused = RefusedHeapAllocations();
  MaybeType<BindingProperty> payload = PayloadOf(*event);
  if (payload.HasFailure()) {
    Trace("%s: Couldn't convert payload %s for event %s: %s", logName_.c_str(), "", event->name,
          payload.GetFailure().Message().c_str());
    if (RefusedHeapAllocations() != refused && IsAwaitedAnswer(event->name))
      serviceProxy_.FailInFlight(kAnswerLost);
    return;
  }
  Trace("%s: Handling event %s", logName_.c_str(), event->name);
  if (handler && *handler) (*handler)(payload.Value());
}

MaybeType<> AppModule::PublishResourceDeletion(std::string_view path) {
  PluginResourceEvent event;
  event.uri = std::string(path);
  event.eventType = PluginResourceEventType::Delete;
  return SendResourceEvent(kResourceEventName, event, 0);
}

MaybeType<> AppModule::SendResourceEvent(std::string_view name, const PluginResourceEvent& event,
                                         std::uint32_t flag) {
  ConversionResult converted;
  ToProperty(converted, event, *registry_);
  if (!converted.Ok()) return FailureOf(converted);
  const std::string derived = EventNameOfPath(event.uri);
  Trace("%s: Sending event: %s", logName_.c_str(), derived.c_str());

  PluginEventRecord record{};
  std::string refusal;
  if (!ToHost(record.payload, converted.Value(), registry_, &refusal)) return Failure(std::move(refusal));
  record.name = derived.c_str();
  record.flag = flag;
  HostSendEvent(&record);
  if (name != derived) {
    const std::string second(name);
    record.name = second.c_str();
    HostSendEvent(&record);
  }
  ReleaseHostValue(record.payload);
  return {};
}

MaybeType<> AppModule::SendRequestWithFields(std::uint32_t method, std::string_view path,
                                             const RequestFields& fields) {
  return Quarn::SendRequestWithFields(*this, *registry_, method, path, fields);
}

ExternalResponse AppModule::SendExternalRequest(const ExternalRequest& request) {
  return Quarn::SendExternalRequest(*this, request, userAgent_);
}

void AppModule::RegisterServiceProxyHandlers() {
  // Each handler reads the answer record and hands it to the tables under its key.
  // awaited: a request may wait for the answer (async answers have no waiter).
  const auto handler = [this](bool awaited, auto arrive) {
    return [this, awaited, arrive](const BindingProperty& payload) {
      PluginServiceProxyResponse answer;
      ConversionResult result;
      const std::uint64_t refused = RefusedHeapAllocations();
      ToNative(result, answer, payload, kPayloadName, *registry_);
      if (!result.Ok()) {
        Trace("%s: Couldn't convert service proxy answer: %s", logName_.c_str(),
              std::string(result.Message()).c_str());
        if (awaited && RefusedHeapAllocations() != refused) serviceProxy_.FailInFlight(kAnswerLost);
        return;
      }
      arrive(answer);
    };
  };
  using Answer = const PluginServiceProxyResponse&;
  RegisterEventHandler(kServiceProxyUuidEvent,
                       handler(true, [this](Answer answer) { serviceProxy_.Arrive(answer.uuid, answer); }),
                       kServiceProxyEventFlag);
  RegisterEventHandler(kServiceProxyMethodEvent,
                       handler(true,
                               [this](Answer answer) {
                                 serviceProxy_.Arrive(ServiceProxyKey(answer.serviceName, answer.methodName),
                                                      answer);
                               }),
                       kServiceProxyEventFlag);
  RegisterEventHandler(kServiceProxyAsyncEvent,
                       handler(false,
                               [this](Answer answer) {
                                 serviceProxy_.ArriveAsync(
                                     ServiceProxyKey(answer.serviceName, answer.methodName), answer);
                               }),
                       kServiceProxyEventFlag);
}

void AppModule::CreateTelemetrySender() {
  telemetry_ = std::make_unique<TelemetrySender>(*this);
}

}  // namespace Quarn
