// The call entry the host core invokes for every call on one of the module's endpoints, and the call
// context it finds the endpoint by.

#pragma once

#include <memory>
#include <optional>

#include "plugin/plugin_abi.h"
#include "sdk/binding/type_registry.h"
#include "sdk/endpoints/route.h"

namespace Quarn {

// %1 the exception's text.
inline constexpr const char* kCallExceptionMessage = "Endpoint call failed: %1";
inline constexpr const char* kUnknownExceptionText = "unknown exception";

// What the host core hands back with every call of one endpoint (PluginRequest::context): the registry
// and the function, with the function's route compiled once. Owned by the API description.
struct EndpointCallContext {
  const TypeRegistry* registry = nullptr;
  std::shared_ptr<const FunctionInfo> function;
  std::optional<Route> route;  // empty when the function's template was refused
};

// The context of function, its route compiled now.
[[nodiscard]] std::unique_ptr<EndpointCallContext> MakeCallContext(
    const TypeRegistry& registry, std::shared_ptr<const FunctionInfo> function);

// The call entry: resets the response, matches the call's method and path (before "?") against the
// route of the context's function, binds the arguments, invokes the handler and writes the response. A
// call that does not match (or that has no context) gets status 404 and "Invalid function". Nothing
// escapes: an exception is answered with status 500 and kCallExceptionMessage.
void HandleCall(PluginResponse* response, const PluginRequest* request) noexcept;

}  // namespace Quarn
