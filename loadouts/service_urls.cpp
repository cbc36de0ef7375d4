#include "loadouts/service_urls.h"

namespace Quarn::Client::Loadouts {

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// Appends the pieces in order: texts as they are.
template <class... Pieces>
std::string Join(const Pieces&... pieces) {
  std::string url;
  url.reserve((std::string_view(pieces).size() + ...));
  (url.append(pieces), ...);
  return url;
}

}  // namespace

std::string PercentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0x0F]);
    }
  }
  return encoded;
}

std::string GetItemsUrl(std::string_view base, std::string_view puuid) {
  return Join(base, "/loadouts/v3/items/get?puuid=", PercentEncode(puuid));
}

std::string SetItemsUrl(std::string_view base, std::string_view puuid) {
  return Join(base, "/loadouts/v3/items?puuid=", PercentEncode(puuid));
}

std::string DeleteItemsUrl(std::string_view base, std::uint32_t id, std::string_view inventoryType,
                           std::string_view puuid) {
  return Join(base, "/loadouts/v3/items/", std::to_string(id),
              "?inventoryType=", PercentEncode(inventoryType), "&puuid=", PercentEncode(puuid));
}

std::string InventoryUrl(std::string_view base, std::string_view puuid,
                         std::span<const std::string> inventoryTypes, bool isSigned,
                         std::string_view location) {
  std::string types;
  for (const std::string& type : inventoryTypes)
    types.append("inventoryTypes=").append(PercentEncode(type)).append("&");
  return Join(base, "/goxinventoryservice/v2/inventories?puuid=", PercentEncode(puuid), "&", types,
              "signed=", isSigned ? "true" : "false", "&location=", PercentEncode(location));
}

std::string SignedItemsUrl(std::string_view base, std::string_view puuid) {
  return Join(base, "/loadouts/v3/signedItems/get?puuid=", PercentEncode(puuid));
}

std::string SetGameCustomizationUrl(std::string_view base, std::string_view location, std::string_view puuid,
                                    std::uint64_t accountId) {
  return Join(base, "/loadouts/v3/setGameCustomization/?location=", PercentEncode(location),
              "&puuid=", PercentEncode(puuid), "&accountId=", std::to_string(accountId));
}

}  // namespace Quarn::Client::Loadouts
