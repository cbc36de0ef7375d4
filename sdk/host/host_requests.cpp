#include "sdk/host/host_requests.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/endpoints/function_names.h"
#include "sdk/host/app_module.h"
#include "sdk/host/trace_hook.h"
#include "sdk/serialization/json_decoder.h"

namespace Quarn {
namespace {

constexpr const char* kStreamReadError = "Stream read error";
constexpr const char* kStreamFinalizing = "Finalizing";
constexpr const char* kStreamChunkTooLong = "Stream read delivered more bytes than it was given room for";
constexpr const char* kResultName = "<result>";
constexpr const char* kUserAgentHeader = "user-agent";
constexpr const char* kExternalLabel = "%1 %2";
constexpr const char* kExternalHeadersNull = "Error converting response for %1: headers was null";
constexpr const char* kExternalBodyNull = "Error converting response for %1: body was null";

// The most a stream's announced length reserves up front; a longer body still grows the buffer as it
// arrives. The announced length is the host's word, not a promise worth gigabytes of reservation.
constexpr std::uint32_t kMaxStreamReservation = 16u << 20;

// Result codes of external responses kept as they are; every other failure code becomes 1.
constexpr std::int32_t kExternalResultKept[] = {0, 2, -1};

std::string MethodName(std::uint32_t method) {
  return std::string(MethodText(method));
}

// The method code a request record carries: DELETE (1) to PUT (7) and other (8) as they are, anything
// else 0.
std::uint32_t WireMethodCode(std::uint32_t method) {
  if (method >= kHttpMethodDelete && method <= kHttpMethodOther) return method;
  return kHttpMethodAny;
}

// Reads a streamed body chunk by chunk, yielding to the host once whenever a short chunk says more
// data follows; closes the stream in every case.
MaybeType<std::string> ReadStream(AppModule& module, const PluginResponse& response) {
  std::string text;
  const std::uint32_t expected = response.expectedLength;  // packed: read by value
  text.reserve(std::min(expected, kMaxStreamReservation));
  MaybeType<std::string> result = std::string();
  char buffer[kStreamChunkSize];
  for (;;) {
    std::uint32_t length = kStreamChunkSize;
    std::uint8_t more = 0;
    if (response.read(response.streamContext, buffer, &length, &more) == 0) {
      result = Failure(kStreamReadError);
      break;
    }
    if (length > kStreamChunkSize) {
      result = Failure(kStreamChunkTooLong);
      break;
    }
    text.append(buffer, length);
    if (more == 0) {
      result = std::move(text);
      break;
    }
    if (length < kStreamChunkSize) {
      module.YieldOnce();
      // Shutdown came during the yield: the plugin takes no more of the stream.
      if (module.Finalizing()) {
        result = Failure(kStreamFinalizing);
        break;
      }
    }
  }
  if (response.close != nullptr) response.close(response.streamContext);
  return result;
}

// The body of a response the host filled without an error.
MaybeType<BindingProperty> ReadBody(AppModule& module, std::uint32_t method, std::string_view path,
                                    const PluginResponse& response) {
  if (response.read != nullptr) {
    MaybeType<std::string> text = ReadStream(module, response);
    if (text.HasFailure())
      return Failure(0, kRequestStreamError, MethodName(method), path, text.GetFailure().Message());
    ConversionResult decoded = DecodeJson(text.Value());
    if (!decoded.Ok()) return Failure(0, kRequestStreamError, MethodName(method), path, decoded.Message());
    return std::move(decoded.Value());
  }
  BindingProperty body;
  HostValueError error{};
  if (!FromHost(error, body, response.body, kResultName)) {
    const std::string message = error.message != nullptr ? error.message : "";
    ReleaseHostValueError(error);
    return RequestDetail::ConversionFailure(method, path, message);
  }
  return body;
}

bool IsUserAgent(std::string_view name) {
  return std::ranges::equal(name, std::string_view(kUserAgentHeader),
                            [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

namespace RequestDetail {

ParameterList::~ParameterList() {
  for (PluginParameter& entry : entries_)
    ReleaseHostValue(entry.value);
}

std::string ParameterList::Add(const BindingProperty& value, const TypeRegistry& registry,
                               std::string_view name) {
  PluginParameter entry{};
  std::string refusal;
  if (!ToHost(entry.value, value, &registry, &refusal)) return refusal;
  if (!name.empty()) entry.name = names_.emplace_back(name).c_str();
  entries_.push_back(entry);
  return {};
}

Failure NotSent(std::uint32_t method, std::string_view path, std::string_view error) {
  return Failure(kRequestNotSentStatus, kRequestNotSent, MethodName(method), path, error);
}

Failure ConversionFailure(std::uint32_t method, std::string_view path, std::string_view error) {
  return Failure(0, kRequestConversionError, MethodName(method), path, error);
}

MaybeType<BindingProperty> Exchange(AppModule& module, std::uint32_t method, std::string_view path,
                                    const ParameterList& parameters, bool readBody) {
  const std::string target(path);
  PluginRequest request{};
  request.method = WireMethodCode(method);
  request.path = target.c_str();
  request.parameters = parameters.Entries().empty() ? nullptr : parameters.Entries().data();
  request.parameterCount = static_cast<std::uint32_t>(parameters.Entries().size());
  request.handleOrRequestId = module.HostHandle();
  PluginResponse response{};
  module.HostRequest(&response, &request);
  // The record goes back to the host however reading it ends, a throw included.
  const struct Release {
    PluginResponse& response;
    ~Release() {
      if (response.release != nullptr) response.release(&response);
    }
  } release{response};

  if (response.error != nullptr)
    return Failure(response.status, kRequestErrorResponse, MethodName(method), path, response.error);
  if (readBody) return ReadBody(module, method, path, response);
  return BindingProperty();
}

}  // namespace RequestDetail

MaybeType<> SendRequestWithFields(AppModule& module, const TypeRegistry& registry, std::uint32_t method,
                                  std::string_view path, const RequestFields& fields) {
  RequestDetail::ParameterList list;
  for (const auto& [name, value] : fields) {
    const std::string error = list.Add(value, registry, name);
    if (!error.empty()) return RequestDetail::NotSent(method, path, error);
  }
  MaybeType<BindingProperty> answer = RequestDetail::Exchange(module, method, path, list, false);
  if (answer.HasFailure()) return answer.TakeFailure();
  return {};
}

ExternalResponse SendExternalRequest(AppModule& module, const ExternalRequest& request,
                                     std::string_view userAgent) {
  const std::string agent(userAgent);
  std::vector<const char*> headers;
  headers.reserve(2 * (request.headers.size() + 1));
  const bool callerAgent =
      std::ranges::any_of(request.headers, [](const auto& header) { return IsUserAgent(header.first); });
  if (!callerAgent) {
    headers.push_back(kUserAgentHeader);
    headers.push_back(agent.c_str());
  }
  for (const auto& [name, value] : request.headers) {
    headers.push_back(name.c_str());
    headers.push_back(value.c_str());
  }

  PluginExternalRequest record{};
  record.method = WireMethodCode(request.method);
  record.url = request.url.c_str();
  record.headers = headers.data();
  record.headerCount = static_cast<std::uint32_t>(headers.size() / 2);
  record.body = request.body.data();
  record.bodyLength = static_cast<std::uint32_t>(request.body.size());
  record.value = request.value;
  record.flag = request.flag;
  PluginExternalResponse answer{};
  module.HostExternalRequest(&answer, &record);

  const std::string label = FormatString(kExternalLabel, MethodText(request.method), request.url);
  ExternalResponse response;
  const std::int32_t result = answer.result;  // packed: read by value
  response.result =
      std::ranges::find(kExternalResultKept, result) != std::end(kExternalResultKept) ? result : 1;
  if (response.result != 0) {
    if (answer.body != nullptr)
      response.message.assign(static_cast<const char*>(answer.body), answer.bodyLength);
    Trace("%s: Couldn't connect to %s: %d - %s", module.LogName().c_str(), label.c_str(), response.result,
          response.message.c_str());
  } else {
    response.status = answer.status;
    if (answer.headerCount > 0 && answer.headers == nullptr) {
      response.conversionFailed = true;
      response.message = FormatString(kExternalHeadersNull, label);
      Trace("%s: Couldn't convert external request headers to %s: %s", module.LogName().c_str(),
            label.c_str(), response.message.c_str());
    } else {
      for (std::uint32_t i = 0; i < answer.headerCount; ++i) {
        const char* name = answer.headers[2 * i];
        const char* value = answer.headers[2 * i + 1];
        if (name != nullptr) response.headers.emplace(name, value != nullptr ? value : "");
      }
    }
    if (answer.bodyLength > 0 && answer.body == nullptr) {
      response.conversionFailed = true;
      response.message = FormatString(kExternalBodyNull, label);
      Trace("%s: Couldn't convert external request body to %s: %s", module.LogName().c_str(), label.c_str(),
            response.message.c_str());
    } else if (answer.bodyLength > 0) {
      response.body.assign(static_cast<const char*>(answer.body), answer.bodyLength);
    }
  }
  if (answer.release != nullptr) answer.release(&answer);
  return response;
}

}  // namespace Quarn
