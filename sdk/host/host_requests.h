// Requests through the host core: calls on other plugins' resources of the host's tree (HostApi entry 0)
// and HTTP requests to outside servers (HostApi entry 1), built from native values, with every failure
// shaped as a Failure or an ExternalResponse field.
//
// Both kinds are synchronous: the host core fills the response before its entry returns. Only a
// streamed body hands control back to the host core (one YieldOnce when a short chunk says more data
// follows), so handlers may be re-entered during a streamed read. The plugin code reaches these through
// the AppModule members of the same names.

#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "plugin/plugin_abi.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/conversion_result.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/native_converters.h"

namespace Quarn {

class AppModule;
class TypeRegistry;

// Failure templates of requests on the host's tree; {method} is the method's name, {url} the path.
inline constexpr const char* kRequestNotSent =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
inline constexpr const char* kRequestErrorResponse = "Error response for {method} {url}: {error}";
inline constexpr const char* kRequestStreamError =
    "Error reading streamed response for {method} {url}: {error}";
inline constexpr const char* kRequestConversionError =
    "Error converting response for {method} {url}: {error}";
// The status of a request whose parameters could not be converted.
inline constexpr std::int32_t kRequestNotSentStatus = 400;
// The chunk size of streamed reads.
inline constexpr std::uint32_t kStreamChunkSize = 4096;

// The named fields of a request, one BindingProperty per field.
using RequestFields = std::map<std::string, BindingProperty>;

// An HTTP request to an outside server, filled by the caller.
struct ExternalRequest {
  std::uint32_t method = kHttpMethodPost;
  std::string url;  // absolute
  std::map<std::string, std::string> headers;
  std::string body;
  std::uint32_t value = 0;   // passed to the host core unchanged
  std::uint32_t unsent = 0;  // kept with the request, not transmitted
  std::uint8_t flag = 1;     // passed to the host core unchanged
};

// The answer to an ExternalRequest. result is 0 on success, 2 and -1 as the host said, 1 for any other
// failure code; then message holds the host's text. An HTTP error status is not a failure here.
// conversionFailed is set, with message saying why, when the host's record was unreadable.
struct ExternalResponse {
  std::int32_t result = 0;
  std::int32_t status = 0;
  bool conversionFailed = false;
  std::string message;
  std::map<std::string, std::string> headers;
  std::string body;
};

namespace RequestDetail {

// The parameter entries of one request and the host values they own; releases them when destroyed.
class ParameterList {
 public:
  ParameterList() = default;
  ParameterList(const ParameterList&) = delete;
  ParameterList& operator=(const ParameterList&) = delete;
  ~ParameterList();

  // Appends value as an entry (named when name is not empty). Returns the conversion's message when
  // the value cannot become a host value, else the empty text.
  [[nodiscard]] std::string Add(const BindingProperty& value, const TypeRegistry& registry,
                                std::string_view name = {});

  [[nodiscard]] const std::vector<PluginParameter>& Entries() const { return entries_; }

 private:
  std::vector<PluginParameter> entries_;
  std::deque<std::string> names_;  // stable: entries point into it
};

// The 400 failure of a request whose parameters could not be converted.
[[nodiscard]] Failure NotSent(std::uint32_t method, std::string_view path, std::string_view error);

// Sends the request and reads the answer: nothing when readBody is false, else the body (from the host
// value or the stream). Releases the response last.
[[nodiscard]] MaybeType<BindingProperty> Exchange(AppModule& module, std::uint32_t method,
                                                  std::string_view path, const ParameterList& parameters,
                                                  bool readBody);

// The failure of an answer that does not convert to the requested type.
[[nodiscard]] Failure ConversionFailure(std::uint32_t method, std::string_view path, std::string_view error);

}  // namespace RequestDetail

// Sends method on path with the positional parameters (each converted to a host value with the
// registry, enumerations as their names) and converts the answer to T: nothing (void), a
// BindingProperty or a registered type. Failures: 400 "Request not sent: ..." when a parameter does not
// convert (the host is not called), "Error response for ..." with the host's status when the host
// answers an error, "Error reading streamed response for ..." and "Error converting response for ..."
// when the answer cannot be read. Each carries the named fields method, url and error.
//
//   MaybeType<std::string> uuid = SendRequest<std::string>(module, registry, kHttpMethodPost, path, name);
template <class T, class... Parameters>
[[nodiscard]] MaybeType<T> SendRequest(AppModule& module, const TypeRegistry& registry, std::uint32_t method,
                                       std::string_view path, const Parameters&... parameters) {
  RequestDetail::ParameterList list;
  std::optional<std::string> error;
  [[maybe_unused]] const auto add = [&](const auto& parameter) {
    if (error) return;
    ConversionResult converted;
    ToProperty(converted, parameter, registry);
    if (!converted.Ok()) {
      error = std::string(converted.Message());
    } else if (std::string refused = list.Add(converted.Value(), registry); !refused.empty()) {
      error = std::move(refused);
    }
  };
  (add(parameters), ...);
  if (error) return RequestDetail::NotSent(method, path, *error);

  MaybeType<BindingProperty> body = RequestDetail::Exchange(module, method, path, list, !std::is_void_v<T>);
  if constexpr (std::is_void_v<T>) {
    if (body.HasFailure()) return body.TakeFailure();
    return {};
  } else {
    if (body.HasFailure()) return body.TakeFailure();
    if constexpr (std::is_same_v<T, BindingProperty>) {
      return body.TakeValue();
    } else {
      T value{};
      ConversionResult converted;
      ToNative(converted, value, body.Value(), "<result>", registry);
      if (!converted.Ok()) return RequestDetail::ConversionFailure(method, path, converted.Message());
      return value;
    }
  }
}

// Sends method on path with one named parameter per field and no answer value; failures as SendRequest.
[[nodiscard]] MaybeType<> SendRequestWithFields(AppModule& module, const TypeRegistry& registry,
                                                std::uint32_t method, std::string_view path,
                                                const RequestFields& fields);

// Sends an HTTP request to an outside server through the host core. A "user-agent" header (any case)
// of the request is kept; otherwise userAgent goes first as ("user-agent", userAgent).
[[nodiscard]] ExternalResponse SendExternalRequest(AppModule& module, const ExternalRequest& request,
                                                   std::string_view userAgent);

}  // namespace Quarn
