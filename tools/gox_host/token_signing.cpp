#include "tools/gox_host/token_signing.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdlib>

namespace GoxHostApp {
namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr const char* kHeader = R"({"alg":"HS256","typ":"JWT"})";

constexpr const char* kMalformed = "token is not three base64url parts";
constexpr const char* kBadHeader = "token header is not a JSON object";
constexpr const char* kWrongAlgorithm = "token algorithm is not HS256";
constexpr const char* kBadSignature = "token signature does not match";
constexpr const char* kBadClaims = "token claims are not a JSON object";
constexpr const char* kExpired = "token has expired";

int DigitOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

std::optional<GoxHost::JsonValue> DecodeObject(std::string_view part) {
  const std::optional<std::string> text = Base64UrlDecode(part);
  if (!text) return std::nullopt;
  std::optional<GoxHost::JsonValue> value = GoxHost::JsonValue::Parse(*text);
  if (!value || !value->Get().IsObject()) return std::nullopt;
  return value;
}

}  // namespace

std::string TokenSecretFromEnvironment() {
  const char* secret = std::getenv(kSecretVariable);
  return secret != nullptr && *secret != '\0' ? secret : kDevelopmentSecret;
}

std::string Base64UrlEncode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t word = static_cast<std::uint8_t>(bytes[i]) << 16 |
                               static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                               static_cast<std::uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out += kAlphabet[(word >> shift) & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t word = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (rest == 2) word |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[(word >> 18) & 63];
    out += kAlphabet[(word >> 12) & 63];
    if (rest == 2) out += kAlphabet[(word >> 6) & 63];
  }
  return out;
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  std::uint32_t word = 0;
  int bits = 0;
  for (const char c : text) {
    const int digit = DigitOf(c);
    if (digit < 0) return std::nullopt;
    word = (word << 6) | static_cast<std::uint32_t>(digit);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((word >> bits) & 0xFF);
    }
  }
  // The bits left over must be zero, or the text is not the encoding of any byte string.
  if ((word & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

std::string HmacSha256(std::string_view secret, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(), &length);
  return std::string(reinterpret_cast<const char*>(digest.data()), length);
}

std::string SignToken(const GoxHost::JsonValue& claims, std::string_view secret) {
  std::string signingInput = Base64UrlEncode(kHeader) + "." + Base64UrlEncode(claims.Text());
  const std::string signature = Base64UrlEncode(HmacSha256(secret, signingInput));
  return signingInput + "." + signature;
}

std::variant<GoxHost::JsonValue, TokenError> VerifyToken(std::string_view token, std::string_view secret,
                                                         std::optional<std::int64_t> now) {
  const std::size_t first = token.find('.');
  const std::size_t second = first == std::string_view::npos ? first : token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
    return TokenError{kMalformed};
  const std::optional<GoxHost::JsonValue> header = DecodeObject(token.substr(0, first));
  if (!header) return TokenError{kBadHeader};
  const rapidjson::Value& fields = header->Get();
  if (!fields.HasMember("alg") || !fields["alg"].IsString() ||
      std::string_view(fields["alg"].GetString()) != "HS256")
    return TokenError{kWrongAlgorithm};
  const std::optional<std::string> signature = Base64UrlDecode(token.substr(second + 1));
  const std::string expected = HmacSha256(secret, token.substr(0, second));
  if (!signature || signature->size() != expected.size() ||
      CRYPTO_memcmp(signature->data(), expected.data(), expected.size()) != 0)
    return TokenError{kBadSignature};
  std::optional<GoxHost::JsonValue> claims = DecodeObject(token.substr(first + 1, second - first - 1));
  if (!claims) return TokenError{kBadClaims};
  const rapidjson::Value& body = claims->Get();
  if (now && body.HasMember("exp") && body["exp"].IsNumber() &&
      body["exp"].GetDouble() <= static_cast<double>(*now))
    return TokenError{kExpired};
  return std::move(*claims);
}

}  // namespace GoxHostApp
