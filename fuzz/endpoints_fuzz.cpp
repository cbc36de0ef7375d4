// Calls endpoints of every argument kind through HandleCall with arbitrary method, path, query, headers,
// explicit arguments and bodies of each content type; every call must be answered and its response
// released. Each input also compiles a template from its first bytes and checks that the route matcher
// agrees with the regular expression the template stands for on a short path.
//
// Input: byte 0 picks the endpoint, byte 1 the method, byte 2 the content type; then texts separated by
// NUL bytes: template, path, header name, header value, explicit argument name, explicit argument JSON
// text, and the rest is the body.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/endpoints/call_dispatch.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/endpoints/route.h"
#include "sdk/serialization/json_decoder.h"

namespace {

using namespace Quarn;

struct Endpoints {
  TypeRegistry registry;
  std::vector<std::unique_ptr<EndpointCallContext>> contexts;

  Endpoints() {
    registry.Initialize();
    const std::vector<std::string> tags;
    const auto add = [&](EndpointBuilder builder) {
      if (builder.Function() != nullptr) contexts.push_back(MakeCallContext(registry, builder.Function()));
    };
    add(RegisterEndpoint(
            registry, tags, 0, "/f/{id}/{+rest}",
            MakeHandler([](std::string id, bool flag, BindingProperty items, std::vector<std::int32_t> list,
                           std::optional<std::uint64_t> count, BindingProperty body) {
              BindingProperty out;
              out.Field("id").SetString(id);
              out.Field("flag").SetBool(flag);
              out.Field("items") = items;
              out.Field("n").SetUnsigned(list.size() + count.value_or(0));
              out.Field("body") = body;
              return out;
            }))
            .AddPathArgument("id", "")
            .AddArgument("flag", "")
            .AddQueryArgument("items", "")
            .AddArgument("list", "")
            .AddArgument("count", "")
            .AddBodyArgument("body", ""));
    add(RegisterEndpoint(
            registry, tags, 6, "/f/v1/{a}.{b}{#frag}",
            MakeHandler([](CallStatus& status, std::string a, std::string b) -> MaybeType<std::string> {
              if (a == "fail") return Failure(409, b);
              status.headers[a] = b;
              status.responseMode = static_cast<std::uint32_t>(b.size());
              return a + b;
            }))
            .AddPathArgument("a", "")
            .AddPathArgument("b", ""));
    add(RegisterEndpoint(registry, tags, 2, "/f/literal",
                         MakeHandler([](BindingProperty any) { return any; }))
            .AddArgument("any", ""));
  }
};

constexpr const char* kContentTypes[] = {"application/json",   "application/vnd.api+json",
                                         "application/x-yaml", "application/x-msgpack",
                                         "text/x-yaml",        "",
                                         "TEXT/plain"};

std::string_view NextText(std::string_view& input) {
  const std::size_t end = input.find('\0');
  const std::string_view text = input.substr(0, end);
  input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  return text;
}

void CheckAgainstRegex(std::string_view pathTemplate, const std::string& path) {
  if (pathTemplate.size() > 24 || path.size() > 48) return;
  MaybeType<RoutePattern> pattern = CompileTemplate(pathTemplate);
  if (pattern.HasFailure() || pattern.Value().literal) return;
  std::vector<std::string_view> captures;
  const bool matched = pattern.Value().Match(path, captures);
  const std::regex expression(pattern.Value().PatternText(), std::regex::ECMAScript | std::regex::optimize);
  std::smatch groups;
  if (std::regex_match(path, groups, expression) != matched) std::abort();
  for (std::size_t i = 1; matched && i < groups.size(); ++i)
    if (groups[i].str() != captures[i - 1]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Endpoints* endpoints = new Endpoints();
  if (size < 3) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 3, size - 3);
  const std::string pathTemplate(NextText(input));
  const std::string path(NextText(input));
  const std::string headerName(NextText(input));
  const std::string headerValue(NextText(input));
  const std::string argumentName(NextText(input));
  const std::string argumentJson(NextText(input));
  const std::string body(input);

  CheckAgainstRegex(pathTemplate, path);

  PluginRequest request{};
  request.context = endpoints->contexts[data[0] % endpoints->contexts.size()].get();
  request.method = data[1] % 10;
  request.customMethod = "PURGE";
  request.path = path.c_str();
  const char* headers[] = {headerName.c_str(), headerValue.c_str()};
  request.headers = headers;
  request.headerCount = headerName.empty() ? 0 : 1;
  request.contentType = kContentTypes[data[2] % std::size(kContentTypes)];
  request.body = body.data();
  request.bodyLength = static_cast<std::uint32_t>(body.size());

  // One explicit argument, named or positional, whose value is the JSON text read as a host value.
  PluginParameter parameter{};
  if (!argumentJson.empty()) {
    ConversionResult json = DecodeJson(argumentJson);
    if (json.Ok() && ToHost(parameter.value, json.Value(), &endpoints->registry)) {
      parameter.name = argumentName.empty() ? nullptr : argumentName.c_str();
      request.parameters = &parameter;
      request.parameterCount = 1;
    }
  }

  PluginResponse response{};
  HandleCall(&response, &request);
  if (response.release == nullptr || (response.error == nullptr && response.reason == nullptr)) std::abort();
  response.release(&response);
  ReleaseHostValue(parameter.value);
  return 0;
}
