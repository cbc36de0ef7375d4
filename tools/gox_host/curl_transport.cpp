#include "tools/gox_host/curl_transport.h"

#include <curl/curl.h>

#include <string_view>

#include "host/request_router.h"

namespace GoxHostApp {
namespace {

constexpr const char* kUnsafeHeader = "header %s refused: names and values may not hold CR, LF or NUL";
constexpr const char* kTooLarge = "answer larger than the limit of %zu bytes";
constexpr const char* kNoHandle = "could not create a transfer handle";
constexpr const char* kNoMethod = "request has no method";

struct Transfer {
  std::size_t limit = 0;
  bool tooLarge = false;
  GoxHost::ExternalResult result;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t bytes = size * count;
  if (transfer->result.body.size() + bytes > transfer->limit) {
    transfer->tooLarge = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  transfer->result.body.append(data, bytes);
  return bytes;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  // A status line starts the headers of a new answer (after a 100 Continue, say): only the last
  // answer's headers are kept.
  if (line.starts_with("HTTP/")) {
    transfer->result.headers.clear();
  } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
    transfer->result.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                          std::string(Trim(line.substr(colon + 1))));
  }
  return size * count;
}

std::int32_t ResultOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kResultCouldNotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kResultTimedOut;
    default:
      return kResultFailed;
  }
}

GoxHost::ExternalResult Failed(std::int32_t code, std::string text) {
  GoxHost::ExternalResult result;
  result.result = code;
  result.status = 0;
  result.body = std::move(text);
  return result;
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
};

}  // namespace

bool IsSafeHeaderText(const std::string& text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

CurlTransport::CurlTransport(CurlTransportOptions options) : options_(options), handle_(curl_easy_init()) {}

CurlTransport::~CurlTransport() {
  if (handle_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

GoxHost::ExternalResult CurlTransport::Send(const GoxHost::ExternalCall& call) {
  CURL* curl = static_cast<CURL*>(handle_);
  if (curl == nullptr) return Failed(kResultFailed, kNoHandle);
  const std::string method = GoxHost::MethodName(call.method);
  if (method.empty()) return Failed(kResultFailed, kNoMethod);

  HeaderList headers;
  for (const auto& [name, value] : call.headers) {
    if (!IsSafeHeaderText(name) || !IsSafeHeaderText(value)) {
      char message[160];
      std::snprintf(message, sizeof message, kUnsafeHeader, IsSafeHeaderText(name) ? name.c_str() : "(name)");
      return Failed(kResultFailed, message);
    }
    // "Name;" is libcurl's way to send a header with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    headers.list = curl_slist_append(headers.list, line.c_str());
  }
  // libcurl would otherwise add "Expect: 100-continue" to large bodies and wait for the answer.
  headers.list = curl_slist_append(headers.list, "Expect:");

  curl_easy_reset(curl);
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  Transfer transfer;
  transfer.limit = options_.maxResponseBytes;
  curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.totalTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  if (method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (method != "GET" || !call.body.empty()) {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  if (!call.body.empty() || method == "POST" || method == "PUT" || method == "PATCH") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
  }

  const CURLcode code = curl_easy_perform(curl);
  if (transfer.tooLarge) {
    char message[96];
    std::snprintf(message, sizeof message, kTooLarge, options_.maxResponseBytes);
    return Failed(kResultFailed, message);
  }
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (code != CURLE_OK)
    return Failed(ResultOf(code), errorText[0] != '\0' ? errorText : curl_easy_strerror(code));
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  transfer.result.result = 0;
  transfer.result.status = static_cast<std::int32_t>(status);
  return std::move(transfer.result);
}

}  // namespace GoxHostApp
