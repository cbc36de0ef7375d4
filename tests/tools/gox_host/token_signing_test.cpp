#include "tools/gox_host/token_signing.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace GoxHostApp {
namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

GoxHost::JsonValue Json(const char* text) {
  return GoxHost::JsonValue::Parse(text).value();
}

std::string Refusal(const std::variant<GoxHost::JsonValue, TokenError>& verified) {
  const auto* error = std::get_if<TokenError>(&verified);
  return error != nullptr ? error->message : "accepted";
}

TEST(TokenSigningTest, Base64UrlRoundTripsAndRefusesForeignText) {
  struct Case {
    const char* bytes;
    const char* encoded;
  };
  // The RFC 4648 vectors, without padding, plus the two characters that differ from plain base64.
  const Case cases[] = {
      {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "-_8"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Base64UrlEncode(c.bytes), c.encoded);
    EXPECT_EQ(Base64UrlDecode(c.encoded), std::optional<std::string>(c.bytes)) << c.encoded;
  }
  for (const char* bad : {"Zg==", "Z", "Zm9v+", "Zm/v", "Zh", "a b"})
    EXPECT_FALSE(Base64UrlDecode(bad).has_value()) << bad;
}

TEST(TokenSigningTest, HmacMatchesTheStandardVector) {
  // RFC 4231, test case 2.
  EXPECT_EQ(Hex(HmacSha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(TokenSigningTest, SignedTokensVerifyAndTamperedOnesAreRefused) {
  const GoxHost::JsonValue claims =
      Json(R"({"puuid":"p-1","inventoryType":"EMOTE","items":[10,11],"exp":2000})");
  const std::string token = SignToken(claims, "secret");
  const auto verified = VerifyToken(token, "secret", 1000);
  ASSERT_EQ(Refusal(verified), "accepted");
  EXPECT_EQ(std::get<GoxHost::JsonValue>(verified), claims);

  const std::size_t first = token.find('.');
  const std::size_t second = token.rfind('.');
  const std::string header = token.substr(0, first);
  const std::string payload = token.substr(first + 1, second - first - 1);
  const std::string signature = token.substr(second + 1);
  const std::string otherPayload = Base64UrlEncode(R"({"puuid":"p-2","exp":2000})");
  const std::string none = Base64UrlEncode(R"({"alg":"none"})");
  const std::string array = Base64UrlEncode("[1]");
  const std::string arraySigned = header + "." + array;
  struct Case {
    std::string token;
    std::string secret;
    std::int64_t now;
    const char* refusal;
  };
  const Case cases[] = {
      {token, "other secret", 1000, "token signature does not match"},
      {header + "." + otherPayload + "." + signature, "secret", 1000, "token signature does not match"},
      {none + "." + payload + ".", "secret", 1000, "token algorithm is not HS256"},
      {none + "." + payload + "." + signature, "secret", 1000, "token algorithm is not HS256"},
      {token, "secret", 2000, "token has expired"},
      {header + "." + payload, "secret", 1000, "token is not three base64url parts"},
      {token + ".x", "secret", 1000, "token is not three base64url parts"},
      {"", "secret", 1000, "token is not three base64url parts"},
      {"%%." + payload + "." + signature, "secret", 1000, "token header is not a JSON object"},
      {header + "." + payload + ".%%", "secret", 1000, "token signature does not match"},
      {arraySigned + "." + Base64UrlEncode(HmacSha256("secret", arraySigned)), "secret", 1000,
       "token claims are not a JSON object"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Refusal(VerifyToken(c.token, c.secret, c.now)), c.refusal) << c.token;
}

}  // namespace
}  // namespace GoxHostApp
