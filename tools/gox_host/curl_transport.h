// CurlTransport: the module's requests to outside servers, performed with libcurl.
//
// Each request is sent as the module gave it (method, URL, headers, body) on one reused easy handle,
// on the plugin thread, synchronously. Redirects are not followed: a 3xx answer reaches the module as
// it is. Only http and https URLs are fetched. Every transport failure becomes a failed result, never
// an exception: -1 when no connection could be made (refused, unresolvable), 2 when a timeout struck,
// 1 for everything else (a header with CR or LF, an answer larger than the limit, a broken
// connection); the body then carries the reason.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/external_transport.h"

namespace GoxHostApp {

struct CurlTransportOptions {
  std::int64_t connectTimeoutMs = 5000;
  std::int64_t totalTimeoutMs = 30000;
  std::size_t maxResponseBytes = 16u << 20;
};

inline constexpr std::int32_t kResultCouldNotConnect = -1;
inline constexpr std::int32_t kResultFailed = 1;
inline constexpr std::int32_t kResultTimedOut = 2;

class CurlTransport : public GoxHost::ExternalTransport {
 public:
  explicit CurlTransport(CurlTransportOptions options = {});
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;
  ~CurlTransport() override;

  [[nodiscard]] GoxHost::ExternalResult Send(const GoxHost::ExternalCall& call) override;

 private:
  CurlTransportOptions options_;
  void* handle_ = nullptr;  // CURL*
};

// Whether a header name or value may be sent: no CR, LF or NUL.
[[nodiscard]] bool IsSafeHeaderText(const std::string& text);

}  // namespace GoxHostApp
