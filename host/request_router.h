// RequestRouter: the host's resource tree and the providers that stand in for other plugins.
//
// A request on the host (from the module's HostApi.request) goes to the provider registered for its
// path and method when there is one, and otherwise to the resource tree, which answers GET with the
// JSON stored at the path and everything else with 404.

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/json_value.h"
#include "plugin/plugin_abi.h"

namespace GoxHost {

// A request read from the module's request record.
struct ProviderRequest {
  std::uint32_t method = kHttpMethodGet;
  std::string customMethod;  // with kHttpMethodOther
  std::string path;
  std::vector<JsonValue> positional;                     // unnamed parameters, in order
  std::vector<std::pair<std::string, JsonValue>> named;  // named parameters, in order
  std::uint32_t hostHandle = 0;
};

// One chunk of a streamed answer: up to `size` bytes (never more than the reader's buffer), then the
// "more" flag as given. `fail` makes the read report failure instead.
struct StreamChunk {
  std::uint32_t size = 0;
  bool more = false;
  bool fail = false;
};

// An answer to a request. With `error` set the record carries that text and no body. With `stream`
// set the body's JSON text is handed out through the record's stream functions, chunk by chunk as
// scripted; after the script, the rest comes in chunks as large as the reader's buffer, the last with
// "more" cleared.
struct ProviderAnswer {
  std::int32_t status = 200;
  JsonValue body;
  std::optional<std::string> error;
  std::optional<std::vector<StreamChunk>> stream;

  [[nodiscard]] static ProviderAnswer Ok(JsonValue body) {
    return ProviderAnswer{200, std::move(body), {}, {}};
  }
  [[nodiscard]] static ProviderAnswer Error(std::int32_t status, std::string text) {
    return ProviderAnswer{status, {}, std::move(text), {}};
  }
};

using Provider = std::function<ProviderAnswer(const ProviderRequest&)>;

// Where a provider answers: an exact path, or every path that starts with `path` when `prefix` is
// set; one method code, or every method with kHttpMethodAny.
struct ProviderRoute {
  std::string path;
  std::uint32_t method = kHttpMethodAny;
  bool prefix = false;
};

class RequestRouter {
 public:
  // Stores `value` at `path`; returns whether the path held a value before.
  bool SetResource(const std::string& path, JsonValue value);
  // Removes the value at `path`; returns whether there was one.
  bool EraseResource(const std::string& path);
  // The value at `path`, or null.
  [[nodiscard]] const JsonValue* FindResource(const std::string& path) const;

  // Adds a provider; a provider added later for the same route replaces the earlier one. Exact routes
  // win over prefix routes, longer prefixes over shorter ones.
  void AddProvider(ProviderRoute route, Provider provider);

  // Answers a request.
  [[nodiscard]] ProviderAnswer Route(const ProviderRequest& request) const;

 private:
  struct Entry {
    ProviderRoute route;
    Provider provider;
  };
  [[nodiscard]] const Entry* FindProvider(const ProviderRequest& request) const;

  std::map<std::string, JsonValue> resources_;
  std::vector<Entry> providers_;
};

// Reads the module's request record into `out`; returns the reason when the record breaks the rules
// (a null path, a null parameter array with a non-zero count, an unreadable parameter value).
[[nodiscard]] std::optional<std::string> ReadRequest(const PluginRequest& record, ProviderRequest& out);

// The upper-case name of a method code ("GET"), the record's custom text for kHttpMethodOther.
[[nodiscard]] std::string MethodName(std::uint32_t method, std::string_view customMethod = {});

}  // namespace GoxHost
