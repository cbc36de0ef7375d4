#include "loadouts/champ_select_injection.h"

#include <string>
#include <utility>
#include <vector>

#include "loadouts/service_urls.h"
#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn::Client::Loadouts {

namespace {

using Api::GameflowPhase;

// The cause inside kGameCustomizationFailed when the payload of a signed item could not be built whole.
constexpr const char* kPayloadOutOfMemory = "Out of memory building the payload";

bool IsHandled(PluginResourceEventType type) {
  return type == PluginResourceEventType::Create || type == PluginResourceEventType::Update;
}

}  // namespace

MaybeType<Api::GetItemsRequest> ChampSelectInjection::SignedItemsRequest(std::uint32_t id) {
  if (MaybeType<> enabled = client_.CheckEnabled(true); enabled.HasFailure()) return enabled.TakeFailure();
  Api::GetItemsRequest request;
  request.id = id;
  request.inventoryTypes = state_.validInventoryTypes;
  MaybeType<std::vector<std::string>> tokens = client_.SignedTokens(request.inventoryTypes);
  if (tokens.HasFailure()) return tokens.TakeFailure();
  request.inventoryJWTs = tokens.TakeValue();
  return request;
}

MaybeType<BindingProperty> ChampSelectInjection::SendSignedItemsToGame(std::uint32_t id) {
  MaybeType<Api::GetItemsRequest> request = SignedItemsRequest(id);
  if (request.HasFailure()) return request.TakeFailure();
  MaybeType<std::string> body = client_.EncodeBody(request.Value(), kSerializingSignedItemsFailed);
  if (body.HasFailure()) return body.TakeFailure();

  const ExternalResponse response = client_.Send(
      kHttpMethodPost, SignedItemsUrl(state_.loadoutsServiceUrl, state_.puuid), body.TakeValue());
  if (ResponseFailed(response)) return Failed(kSignedLoadoutFailed, response.body);  // the caller reports it
  std::vector<std::string> signedItems;
  if (!client_.DecodeAnswer(response.body, signedItems))
    return Logged(Failed(kItemsNotDecodable, response.body));

  for (const std::string& signedItem : signedItems) {
    BindingProperty payload;
    payload.Field("prefix").SetString(kSignedItemPrefix);
    payload.Field("signedJWT").SetString(signedItem);
    // A payload cut short would hand the draft an item without its token.
    if (payload.AllocationFailed()) return Logged(Failed(kGameCustomizationFailed, kPayloadOutOfMemory));
    MaybeType<BindingProperty> answer = module_.CallServiceProxyAndWait<BindingProperty, BindingProperty>(
        kTeamBuilderService, kTeamBuilderMethod, payload);
    if (answer.HasFailure()) return Logged(Failed(kGameCustomizationFailed, answer.GetFailure().Message()));
  }
  return BindingProperty();
}

MaybeType<BindingProperty> ChampSelectInjection::SetGameCustomization(std::uint32_t id) {
  MaybeType<Api::GetItemsRequest> request = SignedItemsRequest(id);
  if (request.HasFailure()) return request.TakeFailure();
  if (request.Value().inventoryJWTs.empty()) return BindingProperty();
  MaybeType<std::string> body = client_.EncodeBody(request.Value(), kSerializingSignedItemsFailed);
  if (body.HasFailure()) return body.TakeFailure();

  const ExternalResponse response =
      client_.Send(kHttpMethodPost,
                   SetGameCustomizationUrl(state_.loadoutsServiceUrl, state_.serviceLocation, state_.puuid,
                                           state_.accountId),
                   body.TakeValue());
  if (ResponseFailed(response)) return Logged(Failed(kSetGameCustomizationFailed, response.message));
  return BindingProperty();
}

MaybeType<BindingProperty> ChampSelectInjection::InjectForQueue(std::uint32_t id) {
  return state_.lastTeamBuilderManaged ? SendSignedItemsToGame(id) : SetGameCustomization(id);
}

void ChampSelectInjection::OnGameflow(const TypedResourceEvent<Api::GameflowSession>& event) {
  if (!IsHandled(event.eventType)) return;
  const GameflowPhase phase = event.value.phase;
  const bool teamBuilderManaged = event.value.gameData.queue.isTeamBuilderManaged;
  if (phase != state_.lastGameflowPhase && phase == GameflowPhase::ChampSelect) {
    // Stored before the injection awaits, so an event that arrives meanwhile sees champion select already
    // entered; and not stored again afterwards, so such an event's newer phase is kept.
    state_.lastGameflowPhase = phase;
    state_.lastTeamBuilderManaged = teamBuilderManaged;
    MaybeType<BindingProperty> injected = InjectForQueue(kChampSelectLoadout);
    if (injected.HasFailure()) {
      Log(kLogLevelError, kCategoryDebug, "%s",
          FormatString(kInjectionFailed, injected.GetFailure().Message()).c_str());
    } else {
      Log(kLogLevelOkay, kCategoryGeneral, kInjectionSucceeded, static_cast<int>(kChampSelectLoadout));
    }
    return;
  }
  if (phase != state_.lastGameflowPhase || teamBuilderManaged != state_.lastTeamBuilderManaged) {
    state_.lastGameflowPhase = phase;
    state_.lastTeamBuilderManaged = teamBuilderManaged;
  }
}

void ChampSelectInjection::AfterItemsStored(std::uint32_t id) {
  if (state_.lastGameflowPhase != GameflowPhase::ChampSelect) return;
  (void)InjectForQueue(id);
}

}  // namespace Quarn::Client::Loadouts
