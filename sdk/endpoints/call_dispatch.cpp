#include "sdk/endpoints/call_dispatch.h"

#include <exception>
#include <span>

#include "sdk/async/host_entry.h"
#include "sdk/diagnostics/message_format.h"
#include "sdk/endpoints/call_arguments.h"
#include "sdk/endpoints/call_response.h"

namespace Quarn {
namespace {

void AnswerException(PluginResponse& response, const char* what) noexcept {
  try {
    WriteFailure(response, 500, FormatString(kCallExceptionMessage, what));
  } catch (...) {
    WriteFailure(response, 500, kUnknownExceptionText);
  }
}

}  // namespace

std::unique_ptr<EndpointCallContext> MakeCallContext(const TypeRegistry& registry,
                                                     std::shared_ptr<const FunctionInfo> function) {
  auto context = std::make_unique<EndpointCallContext>();
  context->registry = &registry;
  context->function = function;
  MaybeType<Route> route = CompileRoute(std::move(function));
  if (route.Ok()) context->route = route.TakeValue();
  return context;
}

void HandleCall(PluginResponse* response, const PluginRequest* request) noexcept {
  if (response == nullptr) return;
  const HostEntry entry;
  try {
    ResetResponse(*response);
    const auto* context =
        request != nullptr ? static_cast<const EndpointCallContext*>(request->context) : nullptr;
    if (context == nullptr || !context->route.has_value())
      return WriteFailure(*response, 404, kInvalidFunctionMessage);
    CallRecord call;
    call.path = request->path != nullptr ? std::string_view(request->path) : std::string_view();
    call.method = CallMethodCode(request->method);
    if (call.method == kHttpMethodOther && request->customMethod != nullptr)
      call.customMethod = request->customMethod;
    if (!MatchCall(call, std::span<const Route>(&*context->route, 1)))
      return WriteFailure(*response, 404, kInvalidFunctionMessage);
    BindAndInvoke(*response, *request, call, *context->registry);
  } catch (const std::exception& exception) {
    AnswerException(*response, exception.what());
  } catch (...) {
    AnswerException(*response, kUnknownExceptionText);
  }
}

}  // namespace Quarn
