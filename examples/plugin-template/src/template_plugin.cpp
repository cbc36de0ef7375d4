#include "template_plugin.h"

#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/endpoints/endpoint_handler.h"

namespace GoxTemplate {

void TemplatePlugin::OnRegister() {
  Quarn::RegisterEndpoint(OwnRegistry(), DocumentationTags(), kHttpMethodGet, kGreetingPath,
                          Quarn::MakeHandler([this] { return Greet(); }))
      .SetDescription("Greets the logged-in player");
}

bool TemplatePlugin::OnInitialize() {
  AddResourceListener<Quarn::BindingProperty>(
      kSessionPath, [this](const Quarn::TypedResourceEvent<Quarn::BindingProperty>& event) {
        puuid_ = event.eventType == Quarn::PluginResourceEventType::Delete
                     ? std::string()
                     : std::string(event.value.Field("puuid").GetString(""));
      });
  return true;
}

Quarn::MaybeType<Quarn::BindingProperty> TemplatePlugin::Greet() {
  if (puuid_.empty()) return Quarn::Failure(503, kNobody);
  ++greetings_;
  if (Quarn::MaybeType<> published = PublishResource(kGreetedPath, greetings_); published.HasFailure())
    return published.TakeFailure();
  Quarn::BindingProperty answer;
  answer.MakeStructure();
  answer.Field("text").SetString("Hello, " + puuid_);
  answer.Field("greetings").SetSigned(greetings_);
  return answer;
}

}  // namespace GoxTemplate
