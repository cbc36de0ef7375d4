#include "inventory_tokens.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>
#include <span>

#include "sdk/binding/base64.h"
#include "sdk/binding/binding_property.h"
#include "sdk/serialization/json_encoder.h"

namespace GoxInventory {
namespace {

constexpr std::string_view kHeader = R"({"alg":"HS256","typ":"JWT"})";

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string SecretFromEnvironment() {
  const char* secret = std::getenv(kSecretVariable);
  return secret != nullptr && *secret != '\0' ? secret : kDevelopmentSecret;
}

std::string Base64UrlEncode(std::string_view bytes) {
  std::string text = Quarn::EncodeBase64(Bytes(bytes));
  while (!text.empty() && text.back() == '=')
    text.pop_back();
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return text;
}

std::string ClaimsJson(const InventoryClaims& claims) {
  Quarn::BindingProperty value;
  value.MakeStructure();
  value.Field("puuid").SetString(claims.puuid);
  value.Field("inventoryType").SetString(claims.inventoryType);
  Quarn::BindingProperty& items = value.Field("items");
  items.MakeCollection();
  for (const std::int64_t item : claims.items)
    items.Append().SetSigned(item);
  value.Field("iat").SetSigned(claims.issuedAt);
  value.Field("exp").SetSigned(claims.expires);
  return Quarn::EncodeJson(value);
}

std::string SignToken(std::string_view claimsJson, std::string_view secret) {
  std::string token = Base64UrlEncode(kHeader) + "." + Base64UrlEncode(claimsJson);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(token.data()), token.size(), digest, &length);
  token += '.';
  token += Base64UrlEncode(std::string_view(reinterpret_cast<const char*>(digest), length));
  return token;
}

}  // namespace GoxInventory
