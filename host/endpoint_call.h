// Calling one of the module's endpoints: the request record the host builds and the response record
// it reads back.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/api_description.h"
#include "host/external_transport.h"
#include "host/json_value.h"

namespace GoxHost {

// A parameter of a call: positional when `name` is empty.
struct CallParameter {
  std::optional<std::string> name;
  JsonValue value;
};

// A call on an endpoint, as the front end would make it.
struct CallRequest {
  std::uint32_t method = kHttpMethodGet;
  std::string customMethod;  // with kHttpMethodOther
  std::string path;          // the concrete path, with a query after '?' when wanted
  std::vector<CallParameter> parameters;
  HeaderList headers;
  std::string contentType;
  std::string body;
  std::uint32_t requestId = 1;
};

// What the module wrote into the response record.
struct CallResponse {
  std::int32_t status = 0;
  std::uint8_t flag = 0;
  std::uint32_t mode = 0;
  std::string reason;
  HeaderList headers;
  std::optional<std::string> error;
  JsonValue body;          // the body host value, read as JSON
  bool streamed = false;   // the body came through the stream functions
  std::string streamText;  // what the stream delivered
  std::uint32_t expectedLength = 0;
  bool released = false;              // the module's release function was set and called
  std::vector<std::string> problems;  // rule breaks found in the record
};

// Calls `endpoint` with a request record built from `request` and reads the response record: status,
// flag, mode, reason, headers, the whole stream when there is one (read in 4096-byte chunks, then
// closed), the body host value, then calls the record's release function when the module set one. The host
// gives no control back to anyone during the call; HostCore::Call adds event delivery.
[[nodiscard]] CallResponse CallEndpoint(const EndpointInfo& endpoint, const CallRequest& request);

}  // namespace GoxHost
