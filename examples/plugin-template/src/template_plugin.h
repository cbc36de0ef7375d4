// TemplatePlugin: the smallest useful plugin. Copy this folder and rename it.
//
//   GET "/gox-template/v1/greeting"  answers {"text": "Hello, <puuid>", "greetings": N}
//   it subscribes to "/gox-login/v1/session" to learn the player (its "puuid")
//   and publishes "/gox-template/v1/greeted", the number of greetings so far, after each greeting.

#pragma once

#include <cstdint>
#include <string>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/maybe_type.h"
#include "sdk/host/plugin_base.h"

namespace GoxTemplate {

inline constexpr const char* kShortName = "gox-template";
inline constexpr const char* kGreetingPath = "/gox-template/v1/greeting";
inline constexpr const char* kGreetedPath = "/gox-template/v1/greeted";
inline constexpr const char* kSessionPath = "/gox-login/v1/session";
inline constexpr const char* kNobody = "Nobody is logged in";

class TemplatePlugin final : public Quarn::PluginBase {
 public:
  // Registers the types and endpoints: only the type registry is reachable here.
  void OnRegister() override;
  // Subscribes: the host is reachable from here on.
  bool OnInitialize() override;

 private:
  [[nodiscard]] Quarn::MaybeType<Quarn::BindingProperty> Greet();

  std::string puuid_;
  std::int64_t greetings_ = 0;
};

}  // namespace GoxTemplate
