// Call arguments: filling an endpoint function's parameter values from what a call carries (headers,
// path parameters, the query, explicit arguments and the body), and the content types bodies and
// argument texts may come in.
//
// Inputs are bounded: a query holds at most kMaxQueryParameters parameters, an argument name at most
// kMaxArgumentPathSegments dotted segments after the parameter's name, and the indexes of all dotted
// names of one call together add at most kMaxArgumentElements elements to collections, so that a short
// query cannot make the plugin allocate without bound.

#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "plugin/plugin_abi.h"
#include "sdk/binding/binding_property.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/binding/property_context.h"
#include "sdk/binding/type_registry.h"
#include "sdk/endpoints/endpoint_handler.h"
#include "sdk/endpoints/route.h"

namespace Quarn {

// Where a parameter's value may come from (FunctionArgument::location).
inline constexpr std::uint32_t kArgumentAnywhere = 0;  // query, path or header
inline constexpr std::uint32_t kArgumentInQuery = 1;
inline constexpr std::uint32_t kArgumentInPath = 2;
inline constexpr std::uint32_t kArgumentInHeader = 4;
inline constexpr std::uint32_t kArgumentInBody = 5;

inline constexpr std::size_t kMaxQueryParameters = 1024;
inline constexpr std::size_t kMaxArgumentPathSegments = 32;
inline constexpr std::size_t kMaxArgumentElements = 65536;

// The answer, with status 404, to a call that no route of the function matches.
inline constexpr const char* kInvalidFunctionMessage = "Invalid function";
// %1 the argument's name (or its position), %2 the function's name.
inline constexpr const char* kUnknownArgumentMessage = "Unknown argument '%1' for '%2'.";
// %1 the argument's name as given, %2 the function's name.
inline constexpr const char* kInvalidLocationMessage =
    "Argument '%1' for '%2' was specified in an invalid location.";
// %1 the parameter's name.
inline constexpr const char* kExpectedValueMessage = "Expected value for argument '%1'.";
// %1 the index segment.
inline constexpr const char* kIndexFormatMessage = "Index %1 is in an incorrect format";
inline constexpr const char* kIndexRangeMessage = "Index %1 is out of range";
// %1 kMaxArgumentElements.
inline constexpr const char* kTooManyElementsMessage =
    "The arguments' indexes add more than %1 elements to collections.";
// %1 the parameter's name, %2 the function's name, %3 the decoder's message.
inline constexpr const char* kMessagePackArgumentMessage =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr const char* kJsonArgumentMessage =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr const char* kYamlArgumentMessage =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
inline constexpr const char* kUnsupportedBodyMessage = "Unsupported body content type";
inline constexpr const char* kExtraMessagePackMessage = "Extra MessgePack data found in body";
// %1 kMaxQueryParameters.
inline constexpr const char* kTooManyQueryParametersMessage = "The query has more than %1 parameters.";
// %1 the argument's name as given, %2 kMaxArgumentPathSegments.
inline constexpr const char* kTooManySegmentsMessage = "Argument '%1' has more than %2 nested segments.";

// Content types, matched case-insensitively on their first characters so that parameters after them
// (a charset) do not matter.
inline constexpr std::string_view kJsonContentType = "application/json";
inline constexpr std::string_view kJsonApiContentType = "application/vnd.api+json";
inline constexpr std::string_view kYamlBodyContentType = "application/x-yaml";
inline constexpr std::string_view kYamlTextContentType = "text/x-yaml";
inline constexpr std::string_view kMessagePackContentType = "application/x-msgpack";  // also "...-ext"
inline constexpr std::string_view kOctetStreamContentType = "application/octet-stream";

// Whether contentType starts with prefix, ignoring ASCII case.
[[nodiscard]] bool HasContentType(std::string_view contentType, std::string_view prefix);

// Splits a query at every "&", each part at its first "=" (no "=": the whole part is the name and the
// value is empty), and percent-decodes both; empty parts are skipped; a repeated name keeps the later value.
// More than kMaxQueryParameters parts fail.
[[nodiscard]] MaybeType<std::map<std::string, std::string>> ParseQuery(std::string_view query);

// Reads text into target as the parameter's value. With the content type "application/x-msgpack", or
// an empty one, structured set and a first byte opening a MessagePack map or array, MessagePack; with
// "application/json", or an empty one, structured set and "{" or "[" after leading white space, JSON;
// with "text/x-yaml", or an empty one, structured set and "---" after leading white space, YAML; with
// "application/octet-stream" a blob; otherwise the text as a string. A decoded value replaces target;
// a decoder's failure fails with its message, naming parameter and function.
[[nodiscard]] MaybeType<> ParseArgumentText(BindingProperty& target, const FunctionArgument& parameter,
                                            const FunctionInfo& function, std::string_view text,
                                            std::string_view contentType, bool structured);

// The values bound for one call, one per parameter. Texts bound to parameters that are not structured
// keep their storage in one context for the whole call, held here rather than on the heap; structured
// values and the body are roots of their own, so that handing them to the handler moves them instead
// of copying.
struct CallArguments {
  // From the first such text on; declared first: outlives values.
  std::optional<FramePropertyContext> storage;
  std::vector<BindingProperty> values;
};

// Fills one value per parameter of function from the request and the matched call, in this order:
// header candidates, path parameters, query values, explicit arguments, the body; the first failure
// stops binding and is returned. The values are reset to the parameter count first, and every bool
// parameter that is not optional starts as false.
[[nodiscard]] MaybeType<> BindArguments(CallArguments& arguments, const FunctionInfo& function,
                                        const PluginRequest& request, const CallRecord& call);

// Binds the arguments, invokes the function's handler and writes its outcome into response (see
// WriteResponse). Asynchronous handlers receive a pending-call record through their complete operation.
void BindAndInvoke(PluginResponse& response, const PluginRequest& request, const CallRecord& call,
                   const TypeRegistry& registry);

}  // namespace Quarn
