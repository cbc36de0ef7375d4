// gox-host's test module; see host_test_module.h.

#include "tests/support/module/host_test_module.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sdk/diagnostics/logger.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/host/plugin_base.h"

namespace GoxHostTestModule {
namespace {

using Quarn::BindingProperty;
using Quarn::Failure;
using Quarn::MakeHandler;
using Quarn::MaybeType;
using Quarn::RegisterEndpoint;

constexpr std::uint32_t kLongestSleepMs = 5000;

class HostTestPlugin final : public Quarn::PluginBase {
 public:
  void OnRegister() override {
    Quarn::TypeRegistry& registry = OwnRegistry();
    const auto& tags = DocumentationTags();
    RegisterEndpoint(registry, tags, kHttpMethodGet, kEcho,
                     MakeHandler([](std::uint32_t id, std::optional<std::string> text) {
                       return std::to_string(id) + ":" + text.value_or("");
                     }))
        .AddPathArgument("id", "A number")
        .AddQueryArgument("text", "A text");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kFail,
                     MakeHandler([](std::int32_t status) -> MaybeType<BindingProperty> {
                       return Failure(status, "failed on purpose");
                     }))
        .AddPathArgument("status", "The status of the failure");
    RegisterEndpoint(
        registry, tags, kHttpMethodPost, kItems,
        MakeHandler([this](std::uint32_t id, BindingProperty items) -> MaybeType<BindingProperty> {
          MaybeType<> published = PublishResource(kPublished + std::to_string(id), items);
          if (published.HasFailure()) return published.TakeFailure();
          return BindingProperty();
        }))
        .AddPathArgument("id", "The item set")
        .AddBodyArgument("items", "Its items");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kSleep, MakeHandler([](std::uint32_t ms) {
                       Quarn::Log(0, 2, "%s", kSleepingLine);  // tells a watching test the call has begun
                       std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kLongestSleepMs)));
                       return std::string("slept");
                     }))
        .AddPathArgument("ms", "How long");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPhase, MakeHandler([this] {
                       BindingProperty seen;
                       seen.MakeStructure();
                       seen.Field("phase").SetString(phase_);
                       seen.Field("events").SetUnsigned(phaseEvents_);
                       return seen;
                     }));
    RegisterEndpoint(registry, tags, kHttpMethodGet, kTokens, MakeHandler([this](std::string type) {
                       return Tokens({type, "BANNER"});
                     }))
        .AddQueryArgument("type", "An inventory type, asked for with BANNER");
    RegisterEndpoint(registry, tags, kHttpMethodPost, kCustomize,
                     MakeHandler([this](std::optional<std::string> token) { return Customize(token); }))
        .AddQueryArgument("token", "A token to send instead of a signed one");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kExternal,
                     MakeHandler([this](std::string url) { return External(url); }))
        .AddQueryArgument("url", "Where to send a GET");
  }

  bool OnInitialize() override {
    AddResourceListener<BindingProperty>(
        "/gox-gameflow/v1/session", [this](const Quarn::TypedResourceEvent<BindingProperty>& event) {
          ++phaseEvents_;
          phase_ = event.eventType == Quarn::PluginResourceEventType::Delete
                       ? std::string("(deleted)")
                       : std::string(event.value.Field("phase").GetString("?"));
        });
    return true;
  }

 private:
  MaybeType<BindingProperty> Tokens(const std::vector<std::string>& types) {
    auto tokens = SendRequest<std::map<std::string, std::string>>(kHttpMethodGet,
                                                                  "/gox-inventory/v1/signedInventory", types);
    if (tokens.HasFailure()) return tokens.TakeFailure();
    BindingProperty result;
    result.MakeStructure();
    for (const auto& [type, token] : tokens.Value())
      result.Field(type).SetString(token);
    return result;
  }

  MaybeType<BindingProperty> Customize(const std::optional<std::string>& given) {
    std::string token;
    if (given) {
      token = *given;
    } else {
      auto tokens = SendRequest<std::map<std::string, std::string>>(
          kHttpMethodGet, "/gox-inventory/v1/signedInventory", std::vector<std::string>{"EMOTE"});
      if (tokens.HasFailure()) return tokens.TakeFailure();
      token = tokens.Value()["EMOTE"];
    }
    BindingProperty payload;
    payload.MakeStructure();
    payload.Field("prefix").SetString("loadouts");
    payload.Field("signedJWT").SetString(token);
    auto answer = CallServiceProxyAndWait<BindingProperty, BindingProperty>(
        "teambuilder-draft", "setGameCustomizationV1", payload);
    if (answer.HasFailure()) return Failure(500, "could not set: " + answer.GetFailure().Message());
    return BindingProperty();
  }

  BindingProperty External(const std::string& url) {
    Quarn::ExternalRequest request;
    request.method = kHttpMethodGet;
    request.url = url;
    request.headers["x-gox-test"] = "yes";
    const Quarn::ExternalResponse response = SendExternalRequest(request);
    BindingProperty result;
    result.MakeStructure();
    result.Field("result").SetSigned(response.result);
    result.Field("status").SetSigned(response.status);
    result.Field("message").SetString(response.message);
    result.Field("body").SetString(response.body);
    return result;
  }

  std::string phase_ = "(none)";
  std::uint64_t phaseEvents_ = 0;
};

}  // namespace
}  // namespace GoxHostTestModule

extern "C" __attribute__((visibility("default"))) std::uint32_t load_gox_loadouts(
    PluginRegistration* registration) {
  return Quarn::LoadPlugin<GoxHostTestModule::HostTestPlugin>(registration, GoxHostTestModule::kShortName);
}
