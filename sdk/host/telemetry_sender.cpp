#include "sdk/host/telemetry_sender.h"

#include <string>

#include "sdk/host/app_module.h"

namespace Quarn {
namespace {

constexpr const char* kTelemetryPathPrefix = "/telemetry/v1/events/";

}  // namespace

std::future<MaybeType<>> TelemetrySender::Send(std::string_view eventName, const RequestFields& fields) {
  std::promise<MaybeType<>> promise;
  std::future<MaybeType<>> future = promise.get_future();
  const std::string path = kTelemetryPathPrefix + std::string(eventName);
  promise.set_value(module_.SendRequestWithFields(kHttpMethodPost, path, fields));
  return future;
}

}  // namespace Quarn
