// Signed tokens: compact HS256 JSON web tokens, signed and verified with a shared secret.
//
// The inventory stand-in signs one token per inventory type; the service-proxy stand-in (and any
// service that shares the secret) verifies them. Only the algorithm HS256 is accepted on verification:
// a token that names another algorithm, "none" included, is refused whatever its signature says.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "host/json_value.h"

namespace GoxHostApp {

// The secret used when GOX_TOKEN_SECRET is not set. Good for a developer's machine only.
inline constexpr const char* kDevelopmentSecret = "gox-development-secret";
inline constexpr const char* kSecretVariable = "GOX_TOKEN_SECRET";

// The secret from GOX_TOKEN_SECRET, or kDevelopmentSecret when it is unset or empty.
[[nodiscard]] std::string TokenSecretFromEnvironment();

// Base64url without padding (RFC 4648 section 5), as tokens use it.
[[nodiscard]] std::string Base64UrlEncode(std::string_view bytes);
// The bytes, or nothing when `text` holds a character outside the alphabet, padding, or an impossible
// length.
[[nodiscard]] std::optional<std::string> Base64UrlDecode(std::string_view text);

// HMAC-SHA256 of `data` under `secret`: 32 raw bytes.
[[nodiscard]] std::string HmacSha256(std::string_view secret, std::string_view data);

// Signs `claims` (a JSON object) as header.payload.signature with the header {"alg":"HS256","typ":"JWT"}.
[[nodiscard]] std::string SignToken(const GoxHost::JsonValue& claims, std::string_view secret);

// Why a token was refused.
struct TokenError {
  std::string message;
};

// The claims of a token whose signature is right, or why it was refused: malformed, another algorithm,
// a wrong signature, claims that are not an object, or expired ("exp" in seconds since the epoch at
// or before `now`, when `now` is given).
[[nodiscard]] std::variant<GoxHost::JsonValue, TokenError> VerifyToken(std::string_view token,
                                                                       std::string_view secret,
                                                                       std::optional<std::int64_t> now = {});

}  // namespace GoxHostApp
