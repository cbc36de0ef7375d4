// Endpoint handlers: the object behind each endpoint function that receives the bound arguments, runs
// the endpoint and leaves its outcome in the call status; and typed handlers built from a C++ callable.
//
// A typed handler takes a callable whose parameters are registered native types, BindingProperty or
// scalars (optionally preceded by CallStatus&, through which it sets the response's status, reason,
// headers, flag, mode or stream) and whose result is nothing, a native value or a MaybeType:
//
//   RegisterEndpoint(registry, tags, kHttpMethodGet, "/gox-loadouts/v2/items/{id}/{inventoryType}",
//                    MakeHandler([](std::uint64_t id, std::string inventoryType) -> MaybeType<Item> {...}))
//       .AddPathArgument("id", "The item")
//       .AddPathArgument("inventoryType", "Its inventory");

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "plugin/plugin_abi.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/type_registry.h"

namespace Quarn {

// The result types of asynchronous handlers: a call on such a handler is answered later, through the
// pending-call record its complete operation receives.
inline constexpr std::uint32_t kAsyncResultType = 0x466F9860;
inline constexpr std::uint32_t kAsyncMaybeResultType = 0x89462EBF;

[[nodiscard]] constexpr bool IsAsyncResultType(std::uint32_t type) {
  return type == kAsyncResultType || type == kAsyncMaybeResultType;
}

// %1 the function name.
inline constexpr const char* kResultConversionMessage = "Couldn't convert the result of '%1': %2";

// A streamed response body: the functions the host core reads and closes it with, and their context.
struct ResponseStream {
  PluginStreamRead read = nullptr;
  PluginStreamClose close = nullptr;
  void* context = nullptr;
  std::uint32_t expectedLength = 0;
};

// The outcome of one call: the handler's result or failure, and the response meta a handler may set.
struct CallStatus {
  ConversionResult result;
  std::uint8_t responseFlag = 0;
  std::uint32_t responseMode = 0;  // 1, 2 and 3 reach the host; anything else is sent as 0
  std::int32_t statusCode = 0;     // 0: not set
  std::string reason;
  std::map<std::string, std::string> headers;
  std::optional<ResponseStream> stream;
};

// What an asynchronous handler needs to answer its call later. It holds the function, which holds the
// handler: a handler lets each record go once it has answered, or the two keep each other alive.
struct PendingCall {
  std::uint32_t requestId = 0;
  std::int64_t startTicks = 0;  // the monotonic clock when the call was bound
  std::shared_ptr<const FunctionInfo> function;
  std::string path;  // the call path, query included
  std::uint32_t method = 0;
  std::string methodText;  // the method's text, or the custom text with code 8
  std::map<std::string, std::string> headers;
};

// The handler of one endpoint function, created at registration and owned by the function. The first
// five operations are the ones a call uses, in this order of slots.
class EndpointHandler : public FunctionCallable {
 public:
  // Runs the endpoint with one value per declared parameter; leaves the outcome in status. Returns a
  // token the caller hands to Complete and then to Release, or null.
  virtual void* Invoke(CallStatus& status, std::span<BindingProperty> arguments, std::uint32_t requestId) = 0;
  // Called when Invoke left status a success: with the pending-call record when ResultType() is
  // asynchronous (the handler then keeps it until it answers), else with none.
  virtual void Complete(CallStatus& status, std::unique_ptr<PendingCall> pending, void* token,
                        std::uint32_t requestId) = 0;
  // Releases a token Invoke returned.
  virtual void Release(void* token) = 0;
  // Kept for the order of slots; calls do not use it.
  virtual void Reserved();
  // The type identifier of the handler's result; 0 for none.
  [[nodiscard]] virtual std::uint32_t ResultType() const = 0;

  // Called once at registration with the registry and the function that owns the handler.
  virtual void Attach(const TypeRegistry& registry, const FunctionInfo& function);
  // The parameters the handler's signature declares, unnamed, in order; none by default.
  [[nodiscard]] virtual std::vector<FunctionArgument> Parameters(const TypeRegistry& registry) const;
  // The descriptor of the handler's result; none by default.
  [[nodiscard]] virtual TypeDescriptor Returns(const TypeRegistry& registry) const;
};

namespace HandlerDetail {

template <class T>
[[nodiscard]] TypeDescriptor DescriptorOf(const TypeRegistry& registry) {
  using Traits = TypeTraits<T>;
  return TypeDescriptor{Traits::kKind, Traits::kElementKind, ConversionDetail::ReferencedType<T>(registry)};
}

template <class T>
struct ResultOf {
  using Type = T;
};
template <class T>
struct ResultOf<MaybeType<T>> {
  using Type = T;
};

template <class T>
inline constexpr bool kIsMaybe = false;
template <class T>
inline constexpr bool kIsMaybe<MaybeType<T>> = true;

// Stores a native result, or a failure, into status.
template <class R>
void StoreResult(CallStatus& status, R&& value, const TypeRegistry& registry, const FunctionInfo& function) {
  using Plain = std::decay_t<R>;
  if constexpr (kIsMaybe<Plain>) {
    if (value.HasFailure()) {
      const Failure& failure = value.GetFailure();
      if (status.statusCode == 0) status.statusCode = failure.Code();
      status.result.Fail(failure.Message());
      return;
    }
    if constexpr (!std::is_void_v<typename ResultOf<Plain>::Type>)
      StoreResult(status, value.TakeValue(), registry, function);
  } else {
    ConversionResult converted;
    ToProperty(converted, value, registry);
    if (!converted.Ok()) {
      status.statusCode = 400;
      status.result.Fail(FormatString(kResultConversionMessage, function.name, converted.Message()));
      return;
    }
    status.result.Value() = std::move(converted.Value());
  }
}

// A handler calling F with the arguments converted to Params; with TakesStatus the call status comes
// first.
template <class F, bool TakesStatus, class R, class... Params>
class TypedHandler final : public EndpointHandler {
 public:
  explicit TypedHandler(F callable) : callable_(std::move(callable)) {}

  void* Invoke(CallStatus& status, std::span<BindingProperty> arguments, std::uint32_t) override {
    InvokeWith(status, arguments, std::index_sequence_for<Params...>{});
    return nullptr;
  }
  void Complete(CallStatus&, std::unique_ptr<PendingCall>, void*, std::uint32_t) override {}
  void Release(void*) override {}
  [[nodiscard]] std::uint32_t ResultType() const override {
    if constexpr (std::is_void_v<R>) {
      return 0;
    } else {
      return TypeTraits<std::decay_t<R>>::kId;
    }
  }

  void Attach(const TypeRegistry& registry, const FunctionInfo& function) override {
    registry_ = &registry;
    function_ = &function;
  }
  [[nodiscard]] std::vector<FunctionArgument> Parameters(const TypeRegistry& registry) const override {
    std::vector<FunctionArgument> parameters;
    (parameters.push_back(FunctionArgument{{},
                                           {},
                                           DescriptorOf<std::decay_t<Params>>(registry),
                                           TypeTraits<std::decay_t<Params>>::kOptional,
                                           0}),
     ...);
    return parameters;
  }
  [[nodiscard]] TypeDescriptor Returns(const TypeRegistry& registry) const override {
    using Result = typename ResultOf<std::decay_t<R>>::Type;
    if constexpr (std::is_void_v<Result>) {
      return {};
    } else {
      return DescriptorOf<Result>(registry);
    }
  }

 private:
  template <std::size_t... I>
  void InvokeWith(CallStatus& status, std::span<BindingProperty> arguments, std::index_sequence<I...>) {
    std::tuple<std::decay_t<Params>...> natives;
    ConversionResult converted;
    [[maybe_unused]] const auto convert = [&](auto& native, std::size_t index) {
      if (!converted.Ok()) return;
      const BindingProperty& input =
          index < arguments.size() ? arguments[index] : BindingProperty::EmptyValue();
      const std::string_view name =
          index < function_->arguments.size() ? std::string_view(function_->arguments[index].name) : "";
      ToNative(converted, native, input, name, *registry_);
    };
    (convert(std::get<I>(natives), I), ...);
    if (!converted.Ok()) {
      status.result.Fail(converted.Message());
      return;
    }
    const auto call = [&]() -> decltype(auto) {
      if constexpr (TakesStatus) {
        return callable_(status, std::move(std::get<I>(natives))...);
      } else {
        return callable_(std::move(std::get<I>(natives))...);
      }
    };
    if constexpr (std::is_void_v<R>) {
      call();
    } else {
      StoreResult(status, call(), *registry_, *function_);
    }
  }

  F callable_;
  const TypeRegistry* registry_ = nullptr;
  const FunctionInfo* function_ = nullptr;
};

template <class F, class Signature>
struct HandlerFor;
template <class F, class R, class... Params>
struct HandlerFor<F, R(Params...)> {
  using Type = TypedHandler<F, false, R, Params...>;
};
template <class F, class R, class... Params>
struct HandlerFor<F, R(CallStatus&, Params...)> {
  using Type = TypedHandler<F, true, R, Params...>;
};

template <class T>
struct Signature : Signature<decltype(&T::operator())> {};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const> {
  using Type = R(A...);
};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...)> {
  using Type = R(A...);
};
template <class R, class... A>
struct Signature<R (*)(A...)> {
  using Type = R(A...);
};

}  // namespace HandlerDetail

// A handler calling callable (a lambda, function object or function pointer) with each argument value
// converted to its parameter's native type; a conversion failure fails the call with its message and
// the callable is not run. A failed MaybeType result fails the call, and its non-zero code becomes the
// status unless the callable set one; a result that cannot be converted fails the call with status 400.
template <class F>
[[nodiscard]] std::unique_ptr<EndpointHandler> MakeHandler(F callable) {
  using Handler = typename HandlerDetail::HandlerFor<F, typename HandlerDetail::Signature<F>::Type>::Type;
  return std::make_unique<Handler>(std::move(callable));
}

}  // namespace Quarn
