// Registering endpoints: an endpoint function named after its method and path template, registered with
// its handler, and the builder on which its route and arguments are declared.

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sdk/binding/maybe_type.h"
#include "sdk/binding/type_registry.h"
#include "sdk/endpoints/endpoint_handler.h"

namespace Quarn {

// Declares one endpoint function. When the function's name was registered before, or its template was
// refused, the builder refers to no function and every operation does nothing, so the first
// registration of a name wins.
class EndpointBuilder {
 public:
  EndpointBuilder(std::shared_ptr<FunctionInfo> function, std::optional<Failure> failure)
      : function_(std::move(function)), failure_(std::move(failure)) {}

  // Stores the path template; a template longer than one character loses one trailing "/". A template
  // with a "}" that closes no "{" or a "{" never closed is refused: the path stays as it was and
  // Result() reports the failure.
  EndpointBuilder& SetPath(std::string_view pathTemplate);
  // Stores the method code and clears the custom method text.
  EndpointBuilder& SetMethod(std::uint32_t method);
  // Makes the endpoint answer the custom method text (method code 8).
  EndpointBuilder& SetCustomMethod(std::string_view method);
  // Appends tags to the function's tags.
  EndpointBuilder& AddTags(std::span<const std::string> tags);
  EndpointBuilder& SetDescription(std::string_view description);

  // Each names the next parameter in the handler's order (adding a parameter when the handler declares
  // fewer), gives it its help text, and records where its value may come from: anywhere (query, path or
  // header), the query, the route's path parameters or the body. type, when given, replaces the
  // parameter's descriptor.
  EndpointBuilder& AddArgument(std::string_view name, std::string_view help,
                               std::optional<TypeDescriptor> type = {});
  EndpointBuilder& AddQueryArgument(std::string_view name, std::string_view help,
                                    std::optional<TypeDescriptor> type = {});
  EndpointBuilder& AddPathArgument(std::string_view name, std::string_view help,
                                   std::optional<TypeDescriptor> type = {});
  EndpointBuilder& AddBodyArgument(std::string_view name, std::string_view help,
                                   std::optional<TypeDescriptor> type = {});

  // The registered function, or null when this builder does nothing.
  [[nodiscard]] std::shared_ptr<const FunctionInfo> Function() const { return function_; }
  // The refusal of a malformed template, if any.
  [[nodiscard]] MaybeType<> Result() const;

 private:
  EndpointBuilder& Declare(std::string_view name, std::string_view help, std::optional<TypeDescriptor> type,
                           std::uint32_t location);

  std::shared_ptr<FunctionInfo> function_;
  std::optional<Failure> failure_;
  std::size_t nextArgument_ = 0;
};

// Registers the endpoint for method and pathTemplate in registry, named MakeFunctionName(method,
// pathTemplate), with handler; its parameters and result descriptor come from the handler. Then sets
// path and method and appends tags (the registering plugin's). A malformed template registers nothing.
EndpointBuilder RegisterEndpoint(TypeRegistry& registry, std::span<const std::string> tags,
                                 std::uint32_t method, std::string_view pathTemplate,
                                 std::unique_ptr<EndpointHandler> handler);

}  // namespace Quarn
