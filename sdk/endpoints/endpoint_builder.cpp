#include "sdk/endpoints/endpoint_builder.h"

#include <utility>

#include "sdk/endpoints/call_arguments.h"
#include "sdk/endpoints/function_names.h"
#include "sdk/endpoints/route.h"

namespace Quarn {
namespace {

std::string_view WithoutTrailingSlash(std::string_view pathTemplate) {
  if (pathTemplate.size() > 1 && pathTemplate.back() == '/') pathTemplate.remove_suffix(1);
  return pathTemplate;
}

}  // namespace

EndpointBuilder& EndpointBuilder::SetPath(std::string_view pathTemplate) {
  if (function_ == nullptr) return *this;
  pathTemplate = WithoutTrailingSlash(pathTemplate);
  MaybeType<RoutePattern> compiled = CompileTemplate(pathTemplate);
  if (compiled.HasFailure()) {
    if (!failure_.has_value()) failure_ = compiled.TakeFailure();
    return *this;
  }
  function_->path = std::string(pathTemplate);
  return *this;
}

EndpointBuilder& EndpointBuilder::SetMethod(std::uint32_t method) {
  if (function_ == nullptr) return *this;
  function_->method = method;
  function_->customMethod.clear();
  return *this;
}

EndpointBuilder& EndpointBuilder::SetCustomMethod(std::string_view method) {
  if (function_ == nullptr) return *this;
  function_->method = kHttpMethodOther;
  function_->customMethod = std::string(method);
  return *this;
}

EndpointBuilder& EndpointBuilder::AddTags(std::span<const std::string> tags) {
  if (function_ != nullptr) function_->tags.insert(function_->tags.end(), tags.begin(), tags.end());
  return *this;
}

EndpointBuilder& EndpointBuilder::SetDescription(std::string_view description) {
  if (function_ != nullptr) function_->description = std::string(description);
  return *this;
}

EndpointBuilder& EndpointBuilder::AddArgument(std::string_view name, std::string_view help,
                                              std::optional<TypeDescriptor> type) {
  return Declare(name, help, type, kArgumentAnywhere);
}

EndpointBuilder& EndpointBuilder::AddQueryArgument(std::string_view name, std::string_view help,
                                                   std::optional<TypeDescriptor> type) {
  return Declare(name, help, type, kArgumentInQuery);
}

EndpointBuilder& EndpointBuilder::AddPathArgument(std::string_view name, std::string_view help,
                                                  std::optional<TypeDescriptor> type) {
  return Declare(name, help, type, kArgumentInPath);
}

EndpointBuilder& EndpointBuilder::AddBodyArgument(std::string_view name, std::string_view help,
                                                  std::optional<TypeDescriptor> type) {
  return Declare(name, help, type, kArgumentInBody);
}

EndpointBuilder& EndpointBuilder::Declare(std::string_view name, std::string_view help,
                                          std::optional<TypeDescriptor> type, std::uint32_t location) {
  if (function_ == nullptr) return *this;
  if (nextArgument_ >= function_->arguments.size()) function_->arguments.resize(nextArgument_ + 1);
  FunctionArgument& argument = function_->arguments[nextArgument_++];
  argument.name = std::string(name);
  argument.description = std::string(help);
  if (type.has_value()) argument.type = *type;
  argument.location = location;
  return *this;
}

MaybeType<> EndpointBuilder::Result() const {
  if (failure_.has_value()) return *failure_;
  return {};
}

EndpointBuilder RegisterEndpoint(TypeRegistry& registry, std::span<const std::string> tags,
                                 std::uint32_t method, std::string_view pathTemplate,
                                 std::unique_ptr<EndpointHandler> handler) {
  MaybeType<RoutePattern> compiled = CompileTemplate(WithoutTrailingSlash(pathTemplate));
  if (compiled.HasFailure()) return EndpointBuilder(nullptr, compiled.TakeFailure());

  FunctionInfo info;
  info.name = MakeFunctionName(method, pathTemplate);
  info.arguments = handler->Parameters(registry);
  info.returns = handler->Returns(registry);
  info.async = IsAsyncResultType(handler->ResultType());
  EndpointHandler* attached = handler.get();
  info.callable = std::move(handler);
  FunctionRegistration registration = registry.RegisterFunction(std::move(info));
  if (registration.alreadyRegistered) return EndpointBuilder(nullptr, std::nullopt);
  attached->Attach(registry, *registration.function);
  EndpointBuilder builder(registration.function, std::nullopt);
  builder.SetPath(pathTemplate).SetMethod(method).AddTags(tags);
  return builder;
}

}  // namespace Quarn
