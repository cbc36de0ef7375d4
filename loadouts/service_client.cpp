#include "loadouts/service_client.h"

#include <new>
#include <utility>

#include "loadouts/service_urls.h"
#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/log_record.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/message_format.h"
#include "sdk/host/app_module.h"
#include "sdk/serialization/json_encoder.h"

namespace Quarn::Client::Loadouts {

Failure Failed(const char* templ, std::string_view text) {
  return Failure(kStatusFailed, FormatString(templ, text));
}

bool ResponseFailed(const ExternalResponse& response) {
  return !response.message.empty() || response.result != 0 || response.status < 200 ||
         response.status > 299 || response.conversionFailed;
}

Failure Logged(Failure failure) {
  Log(kLogLevelError, kCategoryDebug, "%s", failure.Message().c_str());
  return failure;
}

std::string ItemResourcePath(std::uint32_t id, std::string_view inventoryType) {
  std::string path = "/gox-loadouts/v2/items/" + std::to_string(id) + "/";
  path.append(inventoryType);
  return path;
}

const TypeRegistry& LoadoutsServiceClient::Registry() const {
  return *module_.Registry();
}

MaybeType<> LoadoutsServiceClient::CheckEnabled(bool log) const {
  if (state_.enabled) return {};
  Failure failure(kStatusNotEnabled, kNotEnabled);
  return log ? Logged(std::move(failure)) : std::move(failure);
}

MaybeType<std::string> LoadoutsServiceClient::EncodeBody(const ConversionResult& converted,
                                                         std::string_view typeName,
                                                         const char* notConvertible) const {
  const auto refused = [&] {
    const Failure cause(kStatusFailed, kBodyNotConvertible, typeName);
    return Logged(Failed(notConvertible, cause.Message()));
  };
  if (!converted.Ok() || converted.Value().AllocationFailed()) return refused();
  try {
    return EncodeJson(converted.Value(), &Registry(), kBodyLineSeparator);
  } catch (const std::bad_alloc&) {
    // The text could not be had whole: a failure of this body's conversion, not of the call around it.
    return refused();
  }
}

ExternalResponse LoadoutsServiceClient::Send(std::uint32_t method, std::string url, std::string body) {
  ExternalRequest request;
  request.method = method;
  request.url = std::move(url);
  request.headers = state_.defaultHeaders;
  request.body = std::move(body);
  request.value = kRemoteRequestValue;
  request.flag = kRemoteRequestFlag;
  return module_.SendExternalRequest(request);
}

MaybeType<std::vector<std::string>> LoadoutsServiceClient::FetchSignedInventories(
    const std::vector<std::string>& types) {
  MaybeType<std::map<std::string, std::string>> answer =
      module_.SendRequest<std::map<std::string, std::string>>(kHttpMethodGet, kSignedInventoryPath, types);
  if (answer.HasFailure()) return Failed(kSignedInventoryUnavailable, answer.GetFailure().Message());
  std::vector<std::string> tokens;
  tokens.reserve(answer.Value().size());
  for (auto& [type, token] : answer.Value())
    tokens.push_back(std::move(token));
  return tokens;
}

MaybeType<std::vector<std::string>> LoadoutsServiceClient::SignedTokens(
    const std::vector<std::string>& types) {
  MaybeType<std::vector<std::string>> tokens = FetchSignedInventories(types);
  if (tokens.HasFailure()) return Logged(Failed(kSignedInventoriesFailed, tokens.GetFailure().Message()));
  return tokens;
}

MaybeType<Api::InventoryDTO> LoadoutsServiceClient::FetchInventory(const std::vector<std::string>& types,
                                                                   bool isSigned) {
  if (MaybeType<> enabled = CheckEnabled(false); enabled.HasFailure()) return enabled.TakeFailure();
  const ExternalResponse response =
      Send(kHttpMethodGet,
           InventoryUrl(state_.inventoryServiceUrl, state_.puuid, types, isSigned, state_.serviceLocation));
  if (ResponseFailed(response)) return Failed(kInventoryFailed, response.message);
  Api::InventoryResponseDTO answer;
  if (!DecodeAnswer(response.body, answer)) return Failed(kInventoryNotDecodable, response.body);
  return std::move(answer.data);
}

MaybeType<BindingProperty> LoadoutsServiceClient::GetItems(std::uint32_t id,
                                                           const std::string& inventoryType) {
  if (MaybeType<> enabled = CheckEnabled(true); enabled.HasFailure()) return enabled.TakeFailure();
  Api::GetItemsRequest request;
  request.id = id;
  request.inventoryTypes = {inventoryType};
  MaybeType<std::vector<std::string>> tokens = SignedTokens(request.inventoryTypes);
  if (tokens.HasFailure()) return tokens.TakeFailure();
  request.inventoryJWTs = tokens.TakeValue();
  MaybeType<std::string> body = EncodeBody(request, kSerializingJwtsFailed);
  if (body.HasFailure()) return body.TakeFailure();

  const ExternalResponse response =
      Send(kHttpMethodPost, GetItemsUrl(state_.loadoutsServiceUrl, state_.puuid), body.TakeValue());
  if (ResponseFailed(response)) return Logged(Failed(kGetItemsFailed, response.body));
  std::map<std::string, BindingProperty> items;
  if (!DecodeAnswer(response.body, items)) return Logged(Failed(kItemsNotDecodable, response.body));
  const auto found = items.find(inventoryType);
  if (found == items.end()) return BindingProperty();
  return std::move(found->second);
}

MaybeType<BindingProperty> LoadoutsServiceClient::SetItems(std::uint32_t id,
                                                           std::map<std::string, BindingProperty> items) {
  if (MaybeType<> enabled = CheckEnabled(true); enabled.HasFailure()) return enabled.TakeFailure();
  std::vector<std::string> types;
  types.reserve(items.size());
  for (const auto& entry : items)
    types.push_back(entry.first);
  MaybeType<std::vector<std::string>> tokens = SignedTokens(types);
  if (tokens.HasFailure()) return tokens.TakeFailure();
  Api::CreateOrUpdateItemsRequest request;
  request.id = id;
  request.items = std::move(items);  // published from the request below: one copy of each value fewer
  request.inventoryJWTs = tokens.TakeValue();
  MaybeType<std::string> body = EncodeBody(request, kSerializingJwtsFailed);
  if (body.HasFailure()) return body.TakeFailure();

  const ExternalResponse response =
      Send(kHttpMethodPost, SetItemsUrl(state_.loadoutsServiceUrl, state_.puuid), body.TakeValue());
  if (ResponseFailed(response)) return Logged(Failed(kSetItemsFailed, response.body));
  // A value that cannot be sent as an event is not published; the items are stored all the same.
  for (const std::string& type : types)
    (void)module_.PublishResource(ItemResourcePath(id, type), request.items.at(type));
  if (stored_) stored_(id);
  return BindingProperty();
}

MaybeType<BindingProperty> LoadoutsServiceClient::DeleteItems(std::uint32_t id,
                                                              const std::string& inventoryType) {
  if (MaybeType<> enabled = CheckEnabled(true); enabled.HasFailure()) return enabled.TakeFailure();
  const ExternalResponse response =
      Send(kHttpMethodDelete, DeleteItemsUrl(state_.loadoutsServiceUrl, id, inventoryType, state_.puuid));
  if (ResponseFailed(response)) return Logged(Failed(kDeleteItemsFailed, response.body));
  (void)module_.PublishResourceDeletion(ItemResourcePath(id, inventoryType));
  return BindingProperty();
}

}  // namespace Quarn::Client::Loadouts
