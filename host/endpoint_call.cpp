#include "host/endpoint_call.h"

#include <array>

#include "host/host_value_codec.h"

namespace GoxHost {
namespace {

constexpr std::uint32_t kChunkSize = 4096;
// Consecutive empty reads that still promise more data before the host gives up on a stream.
constexpr int kMaxEmptyReads = 1000;

constexpr const char* kNoCallEntry = "endpoint has no call entry";
constexpr const char* kNullHeaders = "response has a null header array with a count of ";
constexpr const char* kNullHeaderText = "response header text is null";
constexpr const char* kNoClose = "streamed response has no close function";
constexpr const char* kReadFailed = "stream read reported failure";
constexpr const char* kOverlongChunk = "stream read delivered more than the buffer holds";
constexpr const char* kStalledStream = "stream keeps promising more data without delivering any";
constexpr const char* kBadBody = "response body: ";

// Owns the host values and texts a request record points into.
class RequestRecord {
 public:
  explicit RequestRecord(const EndpointInfo& endpoint, const CallRequest& request) {
    for (const CallParameter& parameter : request.parameters)
      parameters_.push_back(PluginParameter{parameter.name ? parameter.name->c_str() : nullptr,
                                            ToHostValue(parameter.value.Get())});
    for (const auto& [name, value] : request.headers) {
      headers_.push_back(name.c_str());
      headers_.push_back(value.c_str());
    }
    record_.method = request.method;
    record_.path = request.path.c_str();
    record_.parameters = parameters_.empty() ? nullptr : parameters_.data();
    record_.parameterCount = static_cast<std::uint32_t>(parameters_.size());
    record_.context = endpoint.context;
    record_.headers = headers_.empty() ? nullptr : headers_.data();
    record_.headerCount = static_cast<std::uint32_t>(request.headers.size());
    record_.contentType = request.contentType.c_str();
    record_.body = request.body.data();
    record_.bodyLength = static_cast<std::uint32_t>(request.body.size());
    record_.handleOrRequestId = request.requestId;
    record_.customMethod = request.customMethod.c_str();
  }
  RequestRecord(const RequestRecord&) = delete;
  RequestRecord& operator=(const RequestRecord&) = delete;
  ~RequestRecord() {
    for (PluginParameter& parameter : parameters_)
      ReleaseHostValue(&parameter.value);
  }

  [[nodiscard]] const PluginRequest& Get() const { return record_; }

 private:
  std::vector<PluginParameter> parameters_;
  std::vector<const char*> headers_;
  PluginRequest record_{};
};

void ReadStream(const PluginResponse& record, CallResponse& out) {
  out.streamed = true;
  out.expectedLength = record.expectedLength;
  std::array<char, kChunkSize> buffer{};
  int emptyReads = 0;
  for (;;) {
    std::uint32_t length = kChunkSize;
    std::uint8_t more = 0;
    if (record.read(record.streamContext, buffer.data(), &length, &more) == 0) {
      out.problems.emplace_back(kReadFailed);
      break;
    }
    if (length > kChunkSize) {
      out.problems.emplace_back(kOverlongChunk);
      break;
    }
    out.streamText.append(buffer.data(), length);
    if (more == 0) break;
    emptyReads = length == 0 ? emptyReads + 1 : 0;
    if (emptyReads >= kMaxEmptyReads) {
      out.problems.emplace_back(kStalledStream);
      break;
    }
  }
  if (record.close != nullptr) {
    record.close(record.streamContext);
  } else {
    out.problems.emplace_back(kNoClose);
  }
}

void ReadResponse(const PluginResponse& record, CallResponse& out) {
  out.status = record.status;
  out.flag = record.flag;
  out.mode = record.mode;
  out.reason = record.reason != nullptr ? record.reason : "";
  if (record.error != nullptr) out.error = record.error;
  if (record.headerCount > 0 && record.headers == nullptr) {
    out.problems.push_back(kNullHeaders + std::to_string(record.headerCount));
  } else {
    for (std::uint32_t i = 0; i < record.headerCount; ++i) {
      const char* name = record.headers[2 * i];
      const char* value = record.headers[2 * i + 1];
      if (name == nullptr || value == nullptr) {
        out.problems.emplace_back(kNullHeaderText);
        continue;
      }
      out.headers.emplace_back(name, value);
    }
  }
  // A handler may set a stream and a result: the body host value is read either way.
  if (record.read != nullptr) ReadStream(record, out);
  HostValueReading body = FromHostValue(record.body);
  if (body.value) {
    out.body = std::move(*body.value);
  } else {
    out.problems.push_back(kBadBody + body.error);
  }
}

}  // namespace

CallResponse CallEndpoint(const EndpointInfo& endpoint, const CallRequest& request) {
  CallResponse out;
  if (endpoint.call == nullptr) {
    out.problems.emplace_back(kNoCallEntry);
    return out;
  }
  const RequestRecord record(endpoint, request);
  PluginResponse response{};
  endpoint.call(&response, &record.Get());
  ReadResponse(response, out);
  if (response.release != nullptr) {
    response.release(&response);
    out.released = true;
  }
  return out;
}

}  // namespace GoxHost
