// The URLs of the remote loadouts and inventory services.
//
// Every value the plugin puts into a URL (puuid, loadout id, inventory type, location, account id) is
// percent-encoded: each byte outside A-Z a-z 0-9 - . _ ~ becomes %XX with upper-case hex digits, so a
// value can neither add query parameters ("&", "?", "#") nor break the request line (space, CR, LF, NUL).
// Ordinary ids and names come out unchanged. The configured base URLs are used as they stand.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Quarn::Client::Loadouts {

// value with every byte outside the unreserved set written as %XX.
[[nodiscard]] std::string PercentEncode(std::string_view value);

// "{base}/loadouts/v3/items/get?puuid={puuid}"
[[nodiscard]] std::string GetItemsUrl(std::string_view base, std::string_view puuid);
// "{base}/loadouts/v3/items?puuid={puuid}"
[[nodiscard]] std::string SetItemsUrl(std::string_view base, std::string_view puuid);
// "{base}/loadouts/v3/items/{id}?inventoryType={type}&puuid={puuid}"
[[nodiscard]] std::string DeleteItemsUrl(std::string_view base, std::uint32_t id,
                                         std::string_view inventoryType, std::string_view puuid);
// "{base}/goxinventoryservice/v2/inventories?puuid={puuid}&inventoryTypes={type}&...signed={true|false}
// &location={location}", with one inventoryTypes parameter per type, in order, and none for no types.
[[nodiscard]] std::string InventoryUrl(std::string_view base, std::string_view puuid,
                                       std::span<const std::string> inventoryTypes, bool isSigned,
                                       std::string_view location);
// "{base}/loadouts/v3/signedItems/get?puuid={puuid}"
[[nodiscard]] std::string SignedItemsUrl(std::string_view base, std::string_view puuid);
// "{base}/loadouts/v3/setGameCustomization/?location={location}&puuid={puuid}&accountId={accountId}"
[[nodiscard]] std::string SetGameCustomizationUrl(std::string_view base, std::string_view location,
                                                  std::string_view puuid, std::uint64_t accountId);

}  // namespace Quarn::Client::Loadouts
