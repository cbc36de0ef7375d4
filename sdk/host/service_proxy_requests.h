// Service-proxy requests: asking a back-end game service, by service and method name, to run a method
// with a JSON payload. The request is posted to the login plugin's service-proxy resources on the host's
// tree; the answer comes back later as a host event and fulfils the request's future.
//
// The plugin code reaches these through AppModule::CallServiceProxy and CallServiceProxyAndWait.

#pragma once

#include <future>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "sdk/binding/conversion_result.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/type_registry.h"
#include "sdk/host/bridge_types.h"
#include "sdk/host/service_proxy_tables.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"

namespace Quarn {

class AppModule;

// The login plugin's service-proxy resources.
inline constexpr const char* kServiceProxyUuidPath = "/gox-login/v1/service-proxy-uuid-requests";
inline constexpr const char* kServiceProxyMethodPath = "/gox-login/v1/service-proxy-method-requests";

// Failure texts a caller of CallServiceProxy can see besides the request's and the service's own.
inline constexpr const char* kServiceProxyFinalizing = "Finalizing";
inline constexpr const char* kServiceProxyInFlight = "Request already in flight";
inline constexpr const char* kServiceProxyPayloadNotConverted =
    "Failed to convert type {type} to BindingProperty for serialization";
inline constexpr const char* kServiceProxyAnswerNotConverted =
    "Failed to deserialize response payload \"{payload}\" to a {type}";

namespace ServiceProxyDetail {

// The name of T in messages: its registered name, or its display name when it is not registered.
template <class T>
[[nodiscard]] std::string TypeName(const TypeRegistry& registry) {
  const TypeInfo* info = registry.FindTypeById(TypeIdOf<T>().id);
  return info != nullptr ? info->name : std::string(TypeIdOf<T>().name);
}

// Posts the request (a method request when answerMethod is not empty, else a uuid request) and stores
// completion under the request's key. Answers the failure text when the request was not started.
[[nodiscard]] MaybeType<> Post(AppModule& module, std::string_view service, std::string_view method,
                               const std::string& payload, std::string_view answerMethod,
                               std::string_view extra, ServiceProxyTables::Completion completion);

}  // namespace ServiceProxyDetail

// The result an answer gives a request for R: the service's error text as a Failure, else the payload
// decoded as JSON and converted to R, else "Failed to deserialize response payload ...".
template <class R>
[[nodiscard]] MaybeType<R> ServiceProxyResult(const PluginServiceProxyResponse& answer,
                                              const TypeRegistry& registry);

// Sends a service-proxy request and returns the future of its result. Every failure ("Finalizing",
// "Request already in flight", the payload's conversion, the post's failure) is stored in the future at
// once; nothing is thrown. A non-empty answerMethod makes it a method request, whose answer comes under
// "service.answerMethod"; otherwise a uuid request.
template <class T, class R>
[[nodiscard]] std::future<MaybeType<R>> CallServiceProxy(AppModule& module, bool finalizing,
                                                         const TypeRegistry& registry,
                                                         std::string_view service, std::string_view method,
                                                         const T& payload, std::string_view answerMethod,
                                                         std::string_view extra) {
  auto promise = std::make_shared<std::promise<MaybeType<R>>>();
  std::future<MaybeType<R>> future = promise->get_future();
  if (finalizing) {
    promise->set_value(Failure(kServiceProxyFinalizing));
    return future;
  }
  ConversionResult converted;
  ToProperty(converted, payload, registry);
  // A payload the heap cut short, or whose text it could not hold whole, would reach the service as
  // something else than what was asked.
  bool whole = converted.Ok() && !converted.Value().AllocationFailed();
  std::string text;
  if (whole) {
    try {
      text = EncodeJson(converted.Value(), &registry);
    } catch (const std::bad_alloc&) {
      whole = false;
    }
  }
  if (!whole) {
    promise->set_value(
        Failure(0, kServiceProxyPayloadNotConverted, ServiceProxyDetail::TypeName<T>(registry)));
    return future;
  }
  // The completion holds the promise: dropping it unanswered (the tables emptied at shutdown) breaks
  // the promise, which the waiter sees.
  const TypeRegistry* types = &registry;
  MaybeType<> started = ServiceProxyDetail::Post(module, service, method, text, answerMethod, extra,
                                                 [promise, types](const PluginServiceProxyResponse& answer) {
                                                   promise->set_value(ServiceProxyResult<R>(answer, *types));
                                                 });
  if (started.HasFailure()) promise->set_value(started.TakeFailure());
  return future;
}

template <class R>
MaybeType<R> ServiceProxyResult(const PluginServiceProxyResponse& answer, const TypeRegistry& registry) {
  if (!answer.error.empty()) return Failure(answer.error);
  ConversionResult decoded = DecodeJson(answer.payload);
  R value{};
  if (decoded.Ok()) {
    ConversionResult converted;
    ToNative(converted, value, decoded.Value(), "<value>", registry);
    if (converted.Ok()) return value;
  }
  return Failure(0, kServiceProxyAnswerNotConverted, answer.payload,
                 ServiceProxyDetail::TypeName<R>(registry));
}

}  // namespace Quarn
