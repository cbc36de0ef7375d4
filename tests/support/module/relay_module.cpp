// A relay: a small plugin for the tests of several modules in one host, built as a module under several
// names (GOX_RELAY_NAME, entry GOX_RELAY_ENTRY). With GOX_RELAY_REFUSES its Initialize answers failure.
// Builds of one name that stand for a rebuilt module differ in GOX_RELAY_GENERATION (1 by default),
// and with GOX_RELAY_CLAIMS a build also serves GET at that path (a route of another module).
//
// Endpoints, under /<name>/v1/:
//   GET  state              its counter
//   POST state/{value}      sets its counter
//   GET  ask/{module}       asks GET /<module>/v1/state through the host and answers
//                           {"answer", "before", "after"}: the answer, and its own counter read before
//                           and after the request
//   GET  ask-slow/{module}  the same with GET /<module>/v1/slow
//   GET  slow               awaits the service proxy ("relay", "wait"), then answers its counter
//   GET  bounce/{module}    answers what GET /<module>/v1/bounce/<its own name> answers: two modules
//                           bouncing between each other, or one calling itself when <module> is it
//   POST publish/{value}    publishes /<name>/v1/value
//   GET  generation         GOX_RELAY_GENERATION
//   GET  seen               "<uri>=<value>" for every event of /gox-relay-a/v1/value and
//                           /gox-relay-b/v1/value it received, in order
// At Initialize it publishes /<name>/v1/value = "<name>-start", then subscribes to both values.

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/plugin_abi.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/endpoints/endpoint_handler.h"
#include "sdk/host/plugin_base.h"

namespace {

using Quarn::BindingProperty;
using Quarn::MakeHandler;
using Quarn::MaybeType;
using Quarn::RegisterEndpoint;

#ifndef GOX_RELAY_GENERATION
#define GOX_RELAY_GENERATION 1
#endif

constexpr const char* kName = GOX_RELAY_NAME;
const std::string kPrefix = std::string("/") + kName + "/v1/";

class RelayPlugin final : public Quarn::PluginBase {
 public:
  void OnRegister() override {
    Quarn::TypeRegistry& registry = OwnRegistry();
    const auto& tags = DocumentationTags();
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "state",
                     MakeHandler([this] { return counter_; }));
    RegisterEndpoint(registry, tags, kHttpMethodPost, kPrefix + "state/{value}",
                     MakeHandler([this](std::int64_t value) {
                       counter_ = value;
                       return BindingProperty();
                     }))
        .AddPathArgument("value", "The new counter");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "ask/{module}",
                     MakeHandler([this](std::string module) { return Ask("/" + module + "/v1/state"); }))
        .AddPathArgument("module", "Whom to ask");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "ask-slow/{module}",
                     MakeHandler([this](std::string module) { return Ask("/" + module + "/v1/slow"); }))
        .AddPathArgument("module", "Whom to ask");
    RegisterEndpoint(
        registry, tags, kHttpMethodGet, kPrefix + "slow", MakeHandler([this]() -> MaybeType<BindingProperty> {
          BindingProperty payload;
          payload.SetString(kName);
          auto answer = CallServiceProxyAndWait<BindingProperty, BindingProperty>("relay", "wait", payload);
          if (answer.HasFailure()) return answer.TakeFailure();
          BindingProperty result;
          result.SetSigned(counter_);
          return result;
        }));
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "bounce/{module}",
                     MakeHandler([this](std::string module) -> MaybeType<BindingProperty> {
                       return SendRequest<BindingProperty>(kHttpMethodGet,
                                                           "/" + module + "/v1/bounce/" + std::string(kName));
                     }))
        .AddPathArgument("module", "Whom to bounce to");
    RegisterEndpoint(registry, tags, kHttpMethodPost, kPrefix + "publish/{value}",
                     MakeHandler([this](std::string value) -> MaybeType<BindingProperty> {
                       MaybeType<> published = PublishResource(kPrefix + "value", value);
                       if (published.HasFailure()) return published.TakeFailure();
                       return BindingProperty();
                     }))
        .AddPathArgument("value", "What to publish");
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "seen", MakeHandler([this] { return seen_; }));
    RegisterEndpoint(registry, tags, kHttpMethodGet, kPrefix + "generation",
                     MakeHandler([] { return std::int64_t{GOX_RELAY_GENERATION}; }));
#ifdef GOX_RELAY_CLAIMS
    RegisterEndpoint(registry, tags, kHttpMethodGet, GOX_RELAY_CLAIMS,
                     MakeHandler([] { return std::string(kName); }));
#endif
  }

  bool OnInitialize() override {
#ifdef GOX_RELAY_REFUSES
    return false;
#else
    if (PublishResource(kPrefix + "value", std::string(kName) + "-start").HasFailure()) return false;
    for (const char* path : {"/gox-relay-a/v1/value", "/gox-relay-b/v1/value"})
      AddResourceListener<BindingProperty>(
          path, [this](const Quarn::TypedResourceEvent<BindingProperty>& event) {
            seen_.push_back(event.uri + "=" + std::string(event.value.GetString("")));
          });
    return true;
#endif
  }

 private:
  MaybeType<BindingProperty> Ask(const std::string& path) {
    const std::int64_t before = counter_;
    MaybeType<BindingProperty> answer = SendRequest<BindingProperty>(kHttpMethodGet, path);
    if (answer.HasFailure()) return answer.TakeFailure();
    BindingProperty result;
    result.MakeStructure();
    result.Field("answer") = answer.Value();
    result.Field("before").SetSigned(before);
    result.Field("after").SetSigned(counter_);
    return result;
  }

  std::int64_t counter_ = 0;
  std::vector<std::string> seen_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GOX_RELAY_ENTRY(
    PluginRegistration* registration) {
  return Quarn::LoadPlugin<RelayPlugin>(registration, kName);
}
