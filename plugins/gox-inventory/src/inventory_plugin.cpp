#include "inventory_plugin.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>

#include "inventory_tokens.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/endpoints/endpoint_handler.h"

namespace GoxInventory {
namespace {

using Quarn::BindingKind;
using Quarn::BindingProperty;

std::int64_t SystemClock() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// An integer of either sign, as JSON numbers arrive.
std::optional<std::int64_t> Integer(const BindingProperty& value) {
  if (value.Kind() == BindingKind::Signed) return value.GetSigned(0);
  if (value.Kind() == BindingKind::Unsigned && value.GetUnsigned(0) <= INT64_MAX)
    return static_cast<std::int64_t>(value.GetUnsigned(0));
  return std::nullopt;
}

}  // namespace

InventoryPlugin::InventoryPlugin() : secret_(SecretFromEnvironment()), clock_(&SystemClock) {}

void InventoryPlugin::OnRegister() {
  Quarn::RegisterEndpoint(
      OwnRegistry(), DocumentationTags(), kHttpMethodGet, kSignedInventoryPath,
      Quarn::MakeHandler([this](const std::vector<std::string>& types) { return SignedInventory(types); }))
      .AddArgument("inventoryTypes", "The inventory types to sign, each once");
}

bool InventoryPlugin::OnInitialize() {
  AddResourceListener<BindingProperty>(
      kSessionPath, [this](const Quarn::TypedResourceEvent<BindingProperty>& event) {
        OnSession(event.eventType == Quarn::PluginResourceEventType::Delete ? BindingProperty()
                                                                            : event.value);
      });
  AddResourceListener<BindingProperty>(
      kInventoryFixturePath, [this](const Quarn::TypedResourceEvent<BindingProperty>& event) {
        OnInventoryFixture(event.eventType == Quarn::PluginResourceEventType::Delete ? BindingProperty()
                                                                                     : event.value);
      });
  return true;
}

void InventoryPlugin::OnSession(const BindingProperty& session) {
  puuid_ = std::string(session.Field("puuid").GetString(""));
}

void InventoryPlugin::OnInventoryFixture(const BindingProperty& fixture) {
  owned_.clear();
  for (const auto& field : fixture.Field("items").Fields()) {
    std::vector<std::int64_t>& items = owned_[std::string(field.name)];
    for (const BindingProperty& item : field.value.Elements())
      if (const std::optional<std::int64_t> id = Integer(item)) items.push_back(*id);
  }
  const std::optional<std::int64_t> lifetime = Integer(fixture.Field("tokenLifetimeSeconds"));
  tokenLifetime_ = lifetime && *lifetime > 0 ? *lifetime : kDefaultTokenLifetime;
}

Quarn::MaybeType<BindingProperty> InventoryPlugin::SignedInventory(
    const std::vector<std::string>& types) const {
  if (puuid_.empty()) return Quarn::Failure(503, kNoSession);
  const std::int64_t now = clock_();
  BindingProperty tokens;
  tokens.MakeStructure();
  for (const std::string& type : std::set<std::string>(types.begin(), types.end())) {
    InventoryClaims claims{puuid_, type, {}, now, now + tokenLifetime_};
    if (const auto owned = owned_.find(type); owned != owned_.end()) claims.items = owned->second;
    tokens.Field(type).SetString(SignToken(ClaimsJson(claims), secret_));
  }
  return tokens;
}

}  // namespace GoxInventory
