// TelemetrySender: hands the plugin's telemetry events to the host's telemetry resource.

#pragma once

#include <future>
#include <string_view>

#include "sdk/binding/maybe_type.h"
#include "sdk/host/host_requests.h"

namespace Quarn {

class AppModule;

// Sends telemetry events for the AppModule it belongs to, which outlives it.
class TelemetrySender {
 public:
  explicit TelemetrySender(AppModule& module) : module_(module) {}

  // POSTs fields, one named parameter each, to "/telemetry/v1/events/<eventName>". The request runs
  // before this returns, so the future is ready at once; a failure is stored in it, never thrown.
  [[nodiscard]] std::future<MaybeType<>> Send(std::string_view eventName, const RequestFields& fields);

 private:
  AppModule& module_;
};

}  // namespace Quarn
