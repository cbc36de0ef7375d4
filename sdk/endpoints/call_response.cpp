#include "sdk/endpoints/call_response.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {
namespace {

// What the module keeps alive for one filled record until the host releases it.
struct ResponseStorage {
  std::string error;
  std::string reason;
  std::vector<std::string> headerTexts;
  std::vector<const char*> headerPairs;
};

// The storage of every record answered and not yet released, by record address. Calls may come on
// more than one host thread, so the table has its own lock.
struct StorageTable {
  std::mutex mutex;
  std::unordered_map<const PluginResponse*, std::unique_ptr<ResponseStorage>> entries;
};

StorageTable& Storage() {
  static StorageTable* table = new StorageTable();  // never destroyed: hosts may release late
  return *table;
}

// Stands in for a message when no memory can be had for it.
constexpr const char* kOutOfMemoryText = "Out of memory";
constexpr const char* kEmptyText = "";

// Called by the host core: lets nothing out (a lock that cannot be taken leaves the storage behind).
void ReleaseResponse(PluginResponse* response) noexcept try {
  if (response == nullptr) return;
  ReleaseHostValue(response->body);
  std::unique_ptr<ResponseStorage> storage;
  {
    StorageTable& table = Storage();
    const std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.entries.find(response);
    if (found != table.entries.end()) {
      storage = std::move(found->second);
      table.entries.erase(found);
    }
  }
  response->error = nullptr;
  response->reason = nullptr;
  response->headers = nullptr;
  response->headerCount = 0;
  response->release = nullptr;
} catch (...) {
}

// Hands storage over to the table under response; an earlier entry for the same record (one the host
// never released) is dropped.
void Keep(const PluginResponse& response, std::unique_ptr<ResponseStorage> storage) {
  StorageTable& table = Storage();
  const std::lock_guard<std::mutex> lock(table.mutex);
  table.entries[&response] = std::move(storage);
}

}  // namespace

void ResetResponse(PluginResponse& response) noexcept {
  std::memset(&response, 0, sizeof response);
}

void WriteResponse(PluginResponse& response, CallStatus& status, const TypeRegistry& registry,
                   std::string_view functionName) {
  auto storage = std::make_unique<ResponseStorage>();
  std::int32_t statusCode = status.statusCode;
  if (!status.result.Ok()) {
    storage->error = std::string(status.result.Message());
  } else if (status.result.Value().AllocationFailed()) {
    // A result the heap cut short is not the handler's answer.
    storage->error = kOutOfMemoryText;
    statusCode = 500;
  } else if (!ToHost(response.body, status.result.Value(), &registry)) {
    storage->error = FormatString(kResultToHostMessage, functionName);
    statusCode = 400;
  }
  storage->reason = status.reason;
  storage->headerTexts.reserve(status.headers.size() * 2);
  for (const auto& [name, value] : status.headers) {
    storage->headerTexts.push_back(name);
    storage->headerTexts.push_back(value);
  }
  for (const std::string& text : storage->headerTexts)
    storage->headerPairs.push_back(text.c_str());

  const bool failed = !status.result.Ok() || !storage->error.empty();
  response.error = failed ? storage->error.c_str() : nullptr;
  response.flag = status.responseFlag;
  response.mode = status.responseMode >= 1 && status.responseMode <= 3 ? status.responseMode : 0;
  response.status = statusCode;
  response.reason = storage->reason.c_str();
  response.headers = storage->headerPairs.empty() ? nullptr : storage->headerPairs.data();
  response.headerCount = static_cast<std::uint32_t>(status.headers.size());
  if (status.stream.has_value()) {
    response.read = status.stream->read;
    response.close = status.stream->close;
    response.streamContext = status.stream->context;
    response.expectedLength = status.stream->expectedLength;
  }
  response.release = &ReleaseResponse;
  Keep(response, std::move(storage));
}

void WriteFailure(PluginResponse& response, std::int32_t statusCode, std::string_view message) noexcept {
  ReleaseHostValue(response.body);
  ResetResponse(response);
  response.status = statusCode;
  response.release = &ReleaseResponse;
  try {
    auto storage = std::make_unique<ResponseStorage>();
    storage->error = std::string(message);
    response.error = storage->error.c_str();
    response.reason = storage->reason.c_str();
    Keep(response, std::move(storage));
  } catch (...) {
    response.error = kOutOfMemoryText;
    response.reason = kEmptyText;
  }
}

}  // namespace Quarn
