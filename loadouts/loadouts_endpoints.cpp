#include "loadouts/loadouts_endpoints.h"

#include <cstdint>
#include <map>
#include <utility>

#include "sdk/binding/native_converters.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/endpoints/endpoint_handler.h"

namespace Quarn::Client::Loadouts {

using Items = std::map<std::string, BindingProperty>;

void RegisterLoadoutsEndpoints(TypeRegistry& registry, std::span<const std::string> tags,
                               LoadoutsServiceClient& client, ChampSelectInjection& injection) {
  RegisterEndpoint(registry, tags, kHttpMethodGet, kItemsOfTypeRoute,
                   MakeHandler([&client](std::uint32_t id, std::string inventoryType) {
                     return client.GetItems(id, inventoryType);
                   }))
      .AddPathArgument("id", "")
      .AddPathArgument("inventoryType", "");
  RegisterEndpoint(
      registry, tags, kHttpMethodPost, kItemsRoute,
      MakeHandler([&client](std::uint32_t id, Items items) { return client.SetItems(id, std::move(items)); }))
      .AddPathArgument("id", "")
      .AddBodyArgument("items", "");
  RegisterEndpoint(registry, tags, kHttpMethodDelete, kItemsRoute,
                   MakeHandler([&client](std::uint32_t id, std::string inventoryType) {
                     return client.DeleteItems(id, inventoryType);
                   }))
      .AddPathArgument("id", "")
      .AddQueryArgument("inventoryType", "");
  RegisterEndpoint(
      registry, tags, kHttpMethodPost, kSendItemsRoute,
      MakeHandler([&injection](std::uint32_t id) { return injection.SendSignedItemsToGame(id); }))
      .AddPathArgument("id", "");
  // The list binds by the query rules of every endpoint: a JSON array text (?inventoryTypes=["A","B"]),
  // dotted indexes (?inventoryTypes.0=A&inventoryTypes.1=B), or the empty value (?inventoryTypes= or a
  // bare ?inventoryTypes) for every type. A plain ?inventoryTypes=A is a text, not a list, and a call
  // without the parameter has no list: both are refused before the inventory is asked for.
  RegisterEndpoint(registry, tags, kHttpMethodGet, kInventoryRoute,
                   MakeHandler([&client, &registry](std::vector<std::string> inventoryTypes) {
                     return GetInventory(client, registry, inventoryTypes);
                   }))
      .AddQueryArgument("inventoryTypes", "");
}

MaybeType<Api::FrontendInventoryResponse> GetInventory(LoadoutsServiceClient& client,
                                                       const TypeRegistry& registry,
                                                       const std::vector<std::string>& inventoryTypes) {
  if (MaybeType<> enabled = client.CheckEnabled(true); enabled.HasFailure()) return enabled.TakeFailure();
  MaybeType<Api::InventoryDTO> inventory = client.FetchInventory(inventoryTypes, false);
  if (inventory.HasFailure()) return Logged(Failure(kStatusFailed, inventory.GetFailure().Message()));

  Api::FrontendInventoryResponse response;
  for (const auto& [type, value] : inventory.Value().items) {
    std::vector<Api::InventoryItemDTO> items;
    ConversionResult converted;
    ToNative(converted, items, value, "<value>", registry);
    if (!converted.Ok()) continue;  // an entry that is not a list of items is skipped as a whole
    for (const Api::InventoryItemDTO& item : items)
      response.entitlements.push_back(Api::ItemKey{item.inventoryType, item.itemId});
  }
  return response;
}

}  // namespace Quarn::Client::Loadouts
