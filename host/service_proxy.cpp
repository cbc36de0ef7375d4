#include "host/service_proxy.h"

#include <cinttypes>
#include <cstdio>

namespace GoxHost {
namespace {

constexpr const char* kWrongParameters = "service-proxy request expects %zu positional parameters";
constexpr const char* kNotText = "service-proxy parameter %zu is not a text";
constexpr const char* kWrongHandle = "service-proxy request names an unknown host handle";

constexpr std::size_t kUuidParameters = 4;    // service, method, host handle, payload
constexpr std::size_t kMethodParameters = 6;  // service, method, answer method, extra, host handle, payload

std::string Printf(const char* format, std::size_t value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Reads the positional parameters: texts everywhere except at `handleIndex`, which must name the
// host handle of the module asking, the one its request record carries. Returns the texts, or an
// error answer.
std::optional<ProviderAnswer> ReadTexts(const ProviderRequest& request, std::size_t count,
                                        std::size_t handleIndex, std::vector<std::string>& texts) {
  const std::uint32_t hostHandle = request.hostHandle;
  if (request.positional.size() != count || !request.named.empty())
    return ProviderAnswer::Error(400, Printf(kWrongParameters, count));
  for (std::size_t i = 0; i < count; ++i) {
    const rapidjson::Value& value = request.positional[i].Get();
    if (i == handleIndex) {
      if (!value.IsUint64() || value.GetUint64() != hostHandle)
        return ProviderAnswer::Error(400, kWrongHandle);
      continue;
    }
    if (!value.IsString()) return ProviderAnswer::Error(400, Printf(kNotText, i));
    texts.emplace_back(value.GetString(), value.GetStringLength());
  }
  return std::nullopt;
}

void AddText(JsonDocument& document, const char* name, const std::string& text) {
  document.AddMember(
      rapidjson::StringRef(name),
      rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), document.GetAllocator()),
      document.GetAllocator());
}

}  // namespace

ServiceProxyStandIn::ServiceProxyStandIn(std::uint32_t hostHandle, EventSink queue, EventSink deliverNow)
    : hostHandle_(hostHandle), queue_(std::move(queue)), deliverNow_(std::move(deliverNow)) {}

ProviderAnswer ServiceProxyStandIn::HandleUuidRequest(const ProviderRequest& request) {
  std::vector<std::string> texts;
  if (auto error = ReadTexts(request, kUuidParameters, 2, texts)) return *error;
  const ServiceCall call{texts[0], texts[1], {}, {}, texts[2]};
  char uuid[48];
  std::snprintf(uuid, sizeof uuid, "%08" PRIx32 "-0000-4000-8000-%012" PRIx64, hostHandle_, nextUuid_++);
  Dispatch(call, kServiceProxyUuidEvent, uuid, call.method);
  return ProviderAnswer::Ok(JsonValue::String(uuid));
}

ProviderAnswer ServiceProxyStandIn::HandleMethodRequest(const ProviderRequest& request) {
  std::vector<std::string> texts;
  if (auto error = ReadTexts(request, kMethodParameters, 4, texts)) return *error;
  const ServiceCall call{texts[0], texts[1], texts[2], texts[3], texts[4]};
  Dispatch(call, kServiceProxyMethodEvent, {}, call.answerMethod);
  return ProviderAnswer{};
}

void ServiceProxyStandIn::Dispatch(const ServiceCall& call, const std::string& event, const std::string& uuid,
                                   const std::string& methodName) {
  calls_.push_back(call);
  const ServiceAnswer answer = service_ ? service_(call) : ServiceAnswer{{}, "500", kNoService};
  JsonValue payload;
  JsonDocument& document = payload.Edit();
  document.SetObject();
  AddText(document, "uuid", uuid);
  AddText(document, "serviceName", call.service);
  AddText(document, "methodName", methodName);
  AddText(document, "payload", answer.payload);
  AddText(document, "status", answer.status);
  AddText(document, "error", answer.error);
  if (answer.duringPost) {
    deliverNow_(event, payload);
  } else if (answer.delayYields == 0) {
    queue_(event, payload);
  } else {
    pending_.push_back(Pending{yields_ + answer.delayYields, event, std::move(payload)});
  }
}

void ServiceProxyStandIn::OnYield() {
  ++yields_;
  std::vector<Pending> due;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->dueYield <= yields_) {
      due.push_back(std::move(*it));
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  for (const Pending& answer : due)
    queue_(answer.event, answer.payload);
}

}  // namespace GoxHost
