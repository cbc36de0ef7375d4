#include "sdk/endpoints/call_arguments.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/message_format.h"
#include "sdk/endpoints/call_response.h"
#include "sdk/endpoints/function_names.h"
#include "sdk/endpoints/percent_decoding.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/msgpack_decoder.h"
#include "sdk/serialization/yaml_decoder.h"

namespace Quarn {
namespace {

// Indexes of 2^31 and above are refused whatever the element budget.
constexpr unsigned long kIndexLimit = 1ul << 31;

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view SkipWhiteSpace(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

bool OpensMessagePackContainer(std::string_view text) {
  if (text.empty()) return false;
  const auto first = static_cast<unsigned char>(text[0]);
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

bool IsStructured(NativeKind kind) {
  return kind == NativeKind::Object || kind == NativeKind::Vector || kind == NativeKind::Struct;
}

std::string_view TextOf(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

// Finds a parameter by exact name. An empty name finds nothing, so that a parameter declared without a
// name never binds.
const FunctionArgument* FindParameter(const FunctionInfo& function, std::string_view name,
                                      std::size_t& index) {
  index = function.arguments.size();
  if (name.empty()) return nullptr;
  for (index = 0; index < function.arguments.size(); ++index)
    if (function.arguments[index].name == name) return &function.arguments[index];
  return nullptr;
}

// Binds names and texts to the values of one call, keeping the element budget of its dotted indexes.
class ArgumentBinder {
 public:
  ArgumentBinder(CallArguments& arguments, const FunctionInfo& function)
      : values_(arguments.values), storage_(arguments.storage), function_(function) {}

  MaybeType<> Bind(std::string_view name, std::string_view text, std::uint32_t location) {
    const std::size_t dot = name.find('.');
    const std::string_view parameterName = name.substr(0, dot);
    std::size_t index = 0;
    const FunctionArgument* parameter = FindParameter(function_, parameterName, index);
    if (parameter == nullptr)
      return Failure(FormatString(kUnknownArgumentMessage, parameterName, function_.name));
    if (parameter->location != kArgumentAnywhere && parameter->location != location)
      return Failure(FormatString(kInvalidLocationMessage, name, function_.name));
    BindingProperty& value = values_[index];
    if (dot == std::string_view::npos) {
      const bool structured = IsStructured(parameter->type.kind);
      if (!structured) {
        if (!storage_.has_value()) storage_.emplace();
        value.ShareStorage(*storage_);
      }
      if (!text.empty()) return ParseArgumentText(value, *parameter, function_, text, {}, structured);
      switch (parameter->type.kind) {
        case NativeKind::Bool:
          value.SetBool(true);
          return {};
        case NativeKind::Object:
        case NativeKind::Struct:
          value.Reset();
          value.MakeStructure();
          return {};
        case NativeKind::Vector:
          value.Reset();
          value.MakeCollection();
          return {};
        default:
          return Failure(FormatString(kExpectedValueMessage, parameter->name));
      }
    }
    return BindNested(value, *parameter, name, name.substr(dot + 1), text);
  }

 private:
  MaybeType<> BindNested(BindingProperty& value, const FunctionArgument& parameter, std::string_view name,
                         std::string_view path, std::string_view text) {
    std::size_t segments = 1;
    for (const char c : path)
      segments += c == '.' ? 1 : 0;
    if (segments > kMaxArgumentPathSegments)
      return Failure(FormatString(kTooManySegmentsMessage, name, kMaxArgumentPathSegments));
    BindingProperty* current = &value;
    while (true) {
      const std::size_t dot = path.find('.');
      const std::string_view segment = path.substr(0, dot);
      if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
        MaybeType<std::size_t> index = ReadIndex(*current, segment);
        if (index.HasFailure()) return index.TakeFailure();
        current = &current->Element(index.Value());
      } else {
        current = &current->Field(segment);
      }
      if (dot == std::string_view::npos) break;
      path.remove_prefix(dot + 1);
    }
    return ParseArgumentText(*current, parameter, function_, text, {}, false);
  }

  // Reads an index segment as strtoul with base 0 does, and charges the elements it adds to collection.
  MaybeType<std::size_t> ReadIndex(const BindingProperty& collection, std::string_view segment) {
    const std::string digits(segment);
    char* end = nullptr;
    errno = 0;
    const unsigned long index = std::strtoul(digits.c_str(), &end, 0);
    if (end != digits.c_str() + digits.size()) return Failure(FormatString(kIndexFormatMessage, segment));
    if (errno == ERANGE || index >= kIndexLimit) return Failure(FormatString(kIndexRangeMessage, segment));
    const std::size_t existing = collection.Kind() == BindingKind::Collection ? collection.Count() : 0;
    const std::size_t added = index >= existing ? index + 1 - existing : 0;
    if (added > kMaxArgumentElements - elementsAdded_)
      return Failure(FormatString(kTooManyElementsMessage, kMaxArgumentElements));
    elementsAdded_ += added;
    return static_cast<std::size_t>(index);
  }

  std::vector<BindingProperty>& values_;
  std::optional<FramePropertyContext>& storage_;
  const FunctionInfo& function_;
  std::size_t elementsAdded_ = 0;
};

MaybeType<> BindBody(std::vector<BindingProperty>& values, const FunctionInfo& function,
                     const PluginRequest& request) {
  if (request.body == nullptr || request.bodyLength == 0) return {};
  std::size_t index = 0;
  while (index < function.arguments.size() && function.arguments[index].location != kArgumentInBody)
    ++index;
  if (index == function.arguments.size()) return {};
  const std::string_view contentType = TextOf(request.contentType);
  const char* const body = static_cast<const char*>(request.body);
  ConversionResult decoded;
  if (HasContentType(contentType, kMessagePackContentType)) {
    std::size_t consumed = 0;
    DecodeMessagePack(decoded, consumed, static_cast<const std::uint8_t*>(request.body), request.bodyLength);
    if (decoded.Ok() && consumed < request.bodyLength) return Failure(std::string(kExtraMessagePackMessage));
  } else if (HasContentType(contentType, kJsonContentType) ||
             HasContentType(contentType, kJsonApiContentType)) {
    decoded = DecodeJson(body, request.bodyLength);
  } else if (HasContentType(contentType, kYamlBodyContentType)) {
    decoded = DecodeYaml(std::string_view(body, request.bodyLength));
  } else {
    return Failure(std::string(kUnsupportedBodyMessage));
  }
  if (!decoded.Ok()) return FailureOf(decoded);
  values[index] = std::move(decoded.Value());
  return {};
}

MaybeType<> BindExplicit(std::vector<BindingProperty>& values, const FunctionInfo& function,
                         const PluginRequest& request, std::size_t pathParameters) {
  if (request.parameters == nullptr) return {};
  for (std::uint32_t position = 0; position < request.parameterCount; ++position) {
    const PluginParameter& argument = request.parameters[position];
    std::size_t index = 0;
    std::string label;
    if (argument.name != nullptr) {
      label = argument.name;
      if (FindParameter(function, label, index) == nullptr) index = function.arguments.size();
    } else {
      index = position + pathParameters;
      label = std::to_string(index);
    }
    if (index >= function.arguments.size())
      return Failure(FormatString(kUnknownArgumentMessage, label, function.name));
    HostValueError error{};
    if (!FromHost(error, values[index], argument.value, function.arguments[index].name)) {
      std::string message = error.message != nullptr ? error.message : "";
      ReleaseHostValueError(error);
      return Failure(std::move(message));
    }
  }
  return {};
}

std::map<std::string, std::string> HeaderMap(const PluginRequest& request) {
  std::map<std::string, std::string> headers;
  if (request.headers == nullptr) return headers;
  for (std::uint32_t i = 0; i < request.headerCount; ++i) {
    const char* name = request.headers[2 * i];
    const char* value = request.headers[2 * i + 1];
    if (name != nullptr) headers[name] = TextOf(value);
  }
  return headers;
}

}  // namespace

bool HasContentType(std::string_view contentType, std::string_view prefix) {
  if (contentType.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(contentType[i]) != prefix[i]) return false;
  return true;
}

MaybeType<std::map<std::string, std::string>> ParseQuery(std::string_view query) {
  std::map<std::string, std::string> parameters;
  std::size_t parts = 0;
  while (true) {
    if (++parts > kMaxQueryParameters)
      return Failure(FormatString(kTooManyQueryParametersMessage, kMaxQueryParameters));
    const std::size_t amp = query.find('&');
    const std::string_view part = query.substr(0, amp);
    // Empty parts ("a=1&", "&a=1", a bare "?") carry nothing.
    if (!part.empty()) {
      const std::size_t equals = part.find('=');
      std::string value =
          equals == std::string_view::npos ? std::string() : PercentDecode(part.substr(equals + 1));
      parameters[PercentDecode(part.substr(0, equals))] = std::move(value);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return parameters;
}

MaybeType<> ParseArgumentText(BindingProperty& target, const FunctionArgument& parameter,
                              const FunctionInfo& function, std::string_view text,
                              std::string_view contentType, bool structured) {
  const bool guess = contentType.empty() && structured;
  const std::string_view trimmed = SkipWhiteSpace(text);
  ConversionResult decoded;
  const char* failure = nullptr;
  if (HasContentType(contentType, kMessagePackContentType) || (guess && OpensMessagePackContainer(text))) {
    std::size_t consumed = 0;
    DecodeMessagePack(decoded, consumed, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    failure = kMessagePackArgumentMessage;
  } else if (HasContentType(contentType, kJsonContentType) ||
             (guess && !trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '['))) {
    decoded = DecodeJson(text.data(), text.size());
    failure = kJsonArgumentMessage;
  } else if (HasContentType(contentType, kYamlTextContentType) || (guess && trimmed.starts_with("---"))) {
    decoded = DecodeYaml(text);
    failure = kYamlArgumentMessage;
  } else if (HasContentType(contentType, kOctetStreamContentType)) {
    target.SetBlob(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return {};
  } else {
    target.SetString(text);
    return {};
  }
  if (!decoded.Ok()) return Failure(FormatString(failure, parameter.name, function.name, decoded.Message()));
  target = std::move(decoded.Value());
  return {};
}

MaybeType<> BindArguments(CallArguments& arguments, const FunctionInfo& function,
                          const PluginRequest& request, const CallRecord& call) {
  std::vector<BindingProperty>& values = arguments.values;
  values.clear();
  values.resize(function.arguments.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    if (function.arguments[i].type.kind == NativeKind::Bool && !function.arguments[i].optional)
      values[i].SetBool(false);

  // Header candidates, one per parameter that may come from a header.
  std::vector<std::pair<std::string_view, std::string_view>> headerCandidates;
  if (request.headers != nullptr && request.headerCount != 0) {
    std::string lowered;
    for (const FunctionArgument& parameter : function.arguments) {
      if (parameter.location != kArgumentAnywhere && parameter.location != kArgumentInHeader) continue;
      lowered.clear();
      for (const char c : parameter.name)
        lowered += LowerAscii(c);
      for (std::uint32_t i = 0; i < request.headerCount; ++i) {
        const char* name = request.headers[2 * i];
        if (name != nullptr && lowered == name) {
          headerCandidates.emplace_back(parameter.name, TextOf(request.headers[2 * i + 1]));
          break;
        }
      }
    }
  }

  std::map<std::string, std::string> query;
  const std::size_t mark = call.path.find('?');
  if (mark != std::string_view::npos) {
    MaybeType<std::map<std::string, std::string>> parsed = ParseQuery(call.path.substr(mark + 1));
    if (parsed.HasFailure()) return parsed.TakeFailure();
    query = parsed.TakeValue();
  }

  ArgumentBinder binder(arguments, function);
  for (const auto& [name, text] : headerCandidates)
    if (MaybeType<> bound = binder.Bind(name, text, kArgumentInHeader); bound.HasFailure()) return bound;
  for (const auto& [name, text] : call.parameters)
    if (MaybeType<> bound = binder.Bind(name, text, kArgumentInPath); bound.HasFailure()) return bound;
  for (const auto& [name, text] : query)
    if (MaybeType<> bound = binder.Bind(name, text, kArgumentInQuery); bound.HasFailure()) return bound;
  if (MaybeType<> bound = BindExplicit(values, function, request, call.parameters.size()); bound.HasFailure())
    return bound;
  return BindBody(values, function, request);
}

void BindAndInvoke(PluginResponse& response, const PluginRequest& request, const CallRecord& call,
                   const TypeRegistry& registry) {
  const FunctionInfo& function = *call.function;
  CallStatus status;
  auto* handler = dynamic_cast<EndpointHandler*>(function.callable.get());
  CallArguments arguments;
  if (handler == nullptr) {
    status.result.Fail(kInvalidFunctionMessage);
    status.statusCode = 404;
  } else if (MaybeType<> bound = BindArguments(arguments, function, request, call); bound.HasFailure()) {
    status.result.Fail(bound.GetFailure().Message());
  }
  void* token = nullptr;
  if (status.result.Ok()) {
    token = handler->Invoke(status, arguments.values, request.handleOrRequestId);
    if (status.result.Ok()) {
      std::unique_ptr<PendingCall> pending;
      if (IsAsyncResultType(handler->ResultType())) {
        pending = std::make_unique<PendingCall>();
        pending->requestId = request.handleOrRequestId;
        pending->startTicks = std::chrono::steady_clock::now().time_since_epoch().count();
        pending->function = call.function;
        pending->path = std::string(call.path);
        pending->method = call.method;
        pending->methodText =
            call.method == kHttpMethodOther ? call.customMethod : std::string(MethodText(call.method));
        pending->headers = HeaderMap(request);
      }
      handler->Complete(status, std::move(pending), token, request.handleOrRequestId);
    }
  }
  WriteResponse(response, status, registry, function.name);
  if (token != nullptr) handler->Release(token);
}

}  // namespace Quarn
