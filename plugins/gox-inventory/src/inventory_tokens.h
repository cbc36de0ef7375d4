// Signed inventory tokens: compact HS256 JSON web tokens over the claims of one inventory type.
//
//   InventoryClaims claims{"p-1", "EMOTE", {10, 11}, now, now + 3600};
//   std::string token = SignToken(ClaimsJson(claims), SecretFromEnvironment());
//
// The loadouts and inventory services verify them with the same secret.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace GoxInventory {

// The secret used when GOX_TOKEN_SECRET is not set. Good for a developer's machine only.
inline constexpr const char* kDevelopmentSecret = "gox-development-secret";
inline constexpr const char* kSecretVariable = "GOX_TOKEN_SECRET";

// What a token says: whose items, of which type, which ones, and when it was issued and expires
// (seconds since the epoch).
struct InventoryClaims {
  std::string puuid;
  std::string inventoryType;
  std::vector<std::int64_t> items;
  std::int64_t issuedAt = 0;
  std::int64_t expires = 0;
};

// The secret from GOX_TOKEN_SECRET, or kDevelopmentSecret when it is unset or empty.
[[nodiscard]] std::string SecretFromEnvironment();

// Base64url without padding, as tokens use it.
[[nodiscard]] std::string Base64UrlEncode(std::string_view bytes);

// The claims as a JSON object: {"exp", "iat", "inventoryType", "items", "puuid"}.
[[nodiscard]] std::string ClaimsJson(const InventoryClaims& claims);

// header.payload.signature with the header {"alg":"HS256","typ":"JWT"} and the HMAC-SHA256 of the
// first two parts under `secret`.
[[nodiscard]] std::string SignToken(std::string_view claimsJson, std::string_view secret);

}  // namespace GoxInventory
