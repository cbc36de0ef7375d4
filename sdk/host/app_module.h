// AppModule: the plugin object's bridge to the host core. It keeps the event-handler table and the
// reference-counted subscriptions behind resource listeners, receives host events and dispatches them,
// publishes the plugin's own resource changes, and waits for results by yielding to the host.
//
// Everything here runs on the host's plugin thread, and the host core may call back into the plugin
// while the plugin is inside Yield (an Await, a streamed read): handlers can be re-entered, so state read
// before a wait is read again after it. The tables have no locks of their own, except the service-proxy
// tables, which one mutex guards.
//
// The operations that reach the host core (slots 4 to 12) have no body here; PluginBase forwards them to
// the host's function table.

#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "plugin/plugin_abi.h"
#include "sdk/async/await.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/module_heap.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/type_registry.h"
#include "sdk/host/bridge_types.h"
#include "sdk/host/host_requests.h"
#include "sdk/host/resource_listener_registry.h"
#include "sdk/host/resource_paths.h"
#include "sdk/host/service_proxy_requests.h"
#include "sdk/host/service_proxy_tables.h"
#include "sdk/host/trace_hook.h"

namespace Quarn {

class TelemetrySender;

// A resource event handed to a plugin callback, with the data converted to the listener's type (value
// default-constructed for Delete).
template <class T>
struct TypedResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  T value{};
};

class AppModule : public ResourceListenerRegistry {
 public:
  // Receives the payload of a host event, converted from its host value.
  using EventHandler = std::function<void(const BindingProperty& payload)>;

  // Event registration flags for HostRegisterEvent.
  static constexpr std::uint32_t kResourceEventFlag = 0;
  static constexpr std::uint32_t kServiceProxyEventFlag = 1;

  AppModule();

  // Slots 0 and 1: reference-counted host registration of the event that announces the path's changes.
  // The first Subscribe of an event name registers it with the host core; the Unsubscribe that brings
  // its count back to 0 unregisters it. An Unsubscribe without a matching Subscribe changes nothing.
  void Subscribe(std::string_view path) override;
  void Unsubscribe(std::string_view path) override;

  // Slot 2.
  ~AppModule() override;

  // Slot 3: unregisters every event name of the event-handler table from the host core, then empties
  // the event-handler, listener and service-proxy tables (pending service-proxy requests are abandoned:
  // their waiters receive a failure). Subscription counts are kept.
  virtual void UnregisterAll();

  // Slots 4 to 12: the host core's functions; see plugin/plugin_abi.h.
  virtual void HostRequest(PluginResponse* response, const PluginRequest* request) = 0;
  virtual void HostExternalRequest(PluginExternalResponse* response,
                                   const PluginExternalRequest* request) = 0;
  virtual void HostSendEvent(const PluginEventRecord* event) = 0;
  virtual void HostRegisterEvent(const char* name, std::uint32_t hostHandle, PluginEventCallback callback,
                                 void* context, std::uint32_t flag) = 0;
  virtual void HostUnregisterEvent(const char* name, std::uint32_t hostHandle) = 0;
  virtual void HostReserved(std::uint32_t a, std::uint32_t b, std::uint32_t c, double d, std::uint32_t e) = 0;
  virtual void Yield() = 0;
  virtual void BeginWait(const char* label, std::uint32_t flag) = 0;
  virtual void EndWait() = 0;

  // Stores handler under name, replacing an earlier one, and registers name with the host core (again,
  // on every call) with the resource-event callback (flag 0) or the service-proxy callback (flag 1).
  void RegisterEventHandler(std::string_view name, EventHandler handler, std::uint32_t flag);

  // Listens to path, or to a pattern containing '*', with a callback that receives events whose data
  // is converted to T. For an exact path the current value is read at once with a GET and delivered as
  // a Create event before this returns (nothing is delivered when the read fails). T is a registered
  // type or BindingProperty.
  template <class T>
  void AddResourceListener(std::string_view path, std::function<void(const TypedResourceEvent<T>&)> callback);

  // Announces that the plugin's resource at path now holds value (an Update event), under the path's
  // event name and under "OnJsonApiEvent".
  template <class T>
  MaybeType<> PublishResource(std::string_view path, const T& value);

  // Announces that the resource at path was deleted (a Delete event with empty data).
  MaybeType<> PublishResourceDeletion(std::string_view path);

  // Sends event under the event name of its uri and, when name differs, again under name.
  MaybeType<> SendResourceEvent(std::string_view name, const PluginResourceEvent& event, std::uint32_t flag);

  // Sends method on path through the host core with positional parameters and converts the answer to
  // T (void for no answer value); see SendRequest in sdk/host/host_requests.h.
  template <class T = void, class... Parameters>
  MaybeType<T> SendRequest(std::uint32_t method, std::string_view path, const Parameters&... parameters) {
    return Quarn::SendRequest<T>(*this, *registry_, method, path, parameters...);
  }

  // Sends method on path with one named parameter per field; no answer value.
  MaybeType<> SendRequestWithFields(std::uint32_t method, std::string_view path, const RequestFields& fields);

  // Sends an HTTP request to an outside server with the plugin's user agent (unless the request names
  // one).
  [[nodiscard]] ExternalResponse SendExternalRequest(const ExternalRequest& request);

  // Asks service for method with payload; the future holds the answer converted to R, or the Failure.
  // A non-empty answerMethod makes it a method request answered under "service.answerMethod". Fails at
  // once with "Finalizing" once Shutdown began. See sdk/host/service_proxy_requests.h.
  template <class T, class R>
  [[nodiscard]] std::future<MaybeType<R>> CallServiceProxy(std::string_view service, std::string_view method,
                                                           const T& payload, std::string_view answerMethod,
                                                           std::string_view extra) {
    return Quarn::CallServiceProxy<T, R>(*this, Finalizing(), *registry_, service, method, payload,
                                         answerMethod, extra);
  }

  // A uuid request awaited at once: the answer converted to R, or the Failure.
  template <class T, class R>
  MaybeType<R> CallServiceProxyAndWait(std::string_view service, std::string_view method, const T& payload) {
    return Await<R>(CallServiceProxy<T, R>(service, method, payload, {}, {}));
  }

  // Waits for future, yielding to the host core between polls (see Await in sdk/async/await.h).
  template <class T>
  MaybeType<T> Await(std::future<MaybeType<T>> future) {
    return Quarn::Await<T>(*this, std::move(future));
  }

  // Lets the host core run once, inside a wait labelled "Wait: yield".
  void YieldOnce() { Quarn::YieldOnce(*this); }

  [[nodiscard]] const TypeRegistry* Registry() const { return registry_; }
  [[nodiscard]] std::uint32_t HostHandle() const { return hostHandle_; }
  [[nodiscard]] const std::string& LogName() const { return logName_; }
  [[nodiscard]] bool Finalizing() const { return finalizing_ != 0; }
  [[nodiscard]] ServiceProxyTables& ServiceProxy() { return serviceProxy_; }
  // The telemetry sender; null before Initialize.
  [[nodiscard]] TelemetrySender* Telemetry() const { return telemetry_.get(); }

  // How many exact listeners missed their resource's current value because the heap refused an
  // allocation while it was read or delivered; each is logged at error level. A plugin whose state is
  // built from those values cannot start complete.
  [[nodiscard]] std::size_t LostInitialValues() const { return lostInitialValues_; }

  // The number of Subscribe calls on path's event name not yet matched by Unsubscribe.
  [[nodiscard]] std::int32_t SubscriptionCount(std::string_view path) const;

 protected:
  // The host core's callbacks; context is the AppModule. Nothing thrown while an event is delivered
  // leaves them: it is logged once at level 2 and the event is dropped.
  static void ResourceEventCallback(const PluginEventRecord* event) noexcept;
  static void ServiceProxyEventCallback(const PluginEventRecord* event) noexcept;

  // Registers the three service-proxy answer events (uuid, method, async) with flag 1, in that order.
  void RegisterServiceProxyHandlers();

  // Creates the telemetry sender, replacing an earlier one.
  void CreateTelemetrySender();

  TypeRegistry* registry_ = nullptr;
  AppModule* self_ = nullptr;
  std::uint32_t hostHandle_ = 0;
  std::string logName_;
  std::string userAgent_;
  std::uint8_t finalizing_ = 0;

 private:
  void DeliverEvent(const PluginEventRecord* event);
  // DeliverEvent, with whatever it throws caught and logged.
  void DeliverCaught(const PluginEventRecord* event) noexcept;
  // Counts and logs a listener of path whose current value was lost to a refused allocation.
  void NoteLostInitialValue(std::string_view path);

  std::unordered_map<std::string, std::shared_ptr<EventHandler>> eventHandlers_;
  std::unordered_map<std::string, std::int32_t> subscriptionCounts_;
  std::size_t lostInitialValues_ = 0;
  ServiceProxyTables serviceProxy_{logName_};
  std::unique_ptr<TelemetrySender> telemetry_;
};

// Why a resource value the heap cut short is not published.
inline constexpr const char* kResourceOutOfMemory = "out of memory";

template <class T>
void AppModule::AddResourceListener(std::string_view path,
                                    std::function<void(const TypedResourceEvent<T>&)> callback) {
  Listener listener = [this, callback = std::move(callback)](const PluginResourceEvent& event) {
    TypedResourceEvent<T> typed;
    typed.uri = event.uri;
    typed.eventType = event.eventType;
    if (event.eventType != PluginResourceEventType::Delete) {
      ConversionResult result;
      ToNative(result, typed.value, event.data, "<value>", *registry_);
      if (!result.Ok()) {
        Trace("Couldn't convert resource %s to C++ while handling update for URL: %s",
              std::string(result.Message()).c_str(), event.uri.c_str());
        return;
      }
    }
    callback(typed);
  };
  const Listener initial = listener;
  const bool exact = StoreListener(path, std::move(listener));
  Subscribe(path);
  if (!exact) return;
  // A read that fails, or a value that does not convert, is no loss: the resource says so itself. A
  // refused allocation on the way is one, whatever it made of the read or the delivery.
  const std::uint64_t refused = RefusedHeapAllocations();
  MaybeType<BindingProperty> current = SendRequest<BindingProperty>(kHttpMethodGet, path);
  if (!current.HasFailure()) {
    PluginResourceEvent created;
    created.uri = std::string(path);
    created.eventType = PluginResourceEventType::Create;
    created.data = current.TakeValue();
    initial(created);
  }
  if (RefusedHeapAllocations() != refused) NoteLostInitialValue(path);
}

template <class T>
MaybeType<> AppModule::PublishResource(std::string_view path, const T& value) {
  PluginResourceEvent event;
  event.uri = std::string(path);
  event.eventType = PluginResourceEventType::Update;
  ConversionResult converted;
  ToProperty(converted, value, *registry_);
  if (!converted.Ok() || converted.Value().AllocationFailed()) {
    if (converted.Ok()) converted.Fail(kResourceOutOfMemory);
    Trace("%s: Couldn't convert resource %s for event uri \"%s\"", logName_.c_str(),
          std::string(converted.Message()).c_str(), event.uri.c_str());
    return FailureOf(converted);
  }
  event.data = std::move(converted.Value());
  return SendResourceEvent(kResourceEventName, event, 0);
}

}  // namespace Quarn
