#include "inventory_tokens.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace GoxInventory {
namespace {

// Padding dropped and the two URL-safe letters in place of '+' and '/', at every length modulo 3.
TEST(InventoryTokens, Base64UrlHasNoPaddingAndUrlSafeLetters) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"", ""},
      {"f", "Zg"},
      {"fo", "Zm8"},
      {"foo", "Zm9v"},
      {"\xfb\xff", "-_8"},
      {"\xfb\xef\xbe", "----"},
      {"\xff\xff\xff", "____"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Base64UrlEncode(c.bytes), c.text) << c.text;
}

// A token widely published with its secret: the header, the encoding and the HMAC must all agree.
TEST(InventoryTokens, SignsLikeAnyHs256Implementation) {
  const std::string token =
      SignToken(R"({"sub":"1234567890","name":"John Doe","iat":1516239022})", "your-256-bit-secret");
  EXPECT_EQ(token,
            "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9."
            "eyJzdWIiOiIxMjM0NTY3ODkwIiwibmFtZSI6IkpvaG4gRG9lIiwiaWF0IjoxNTE2MjM5MDIyfQ."
            "SflKxwRJSMeKKF2QT4fwpMeJf36POk6yJV_adQssw5c");
}

TEST(InventoryTokens, ClaimsCarryEveryFieldTheServicesRead) {
  const InventoryClaims claims{"p-\"1\"", "EMOTE", {10, -3}, 100, 3700};
  EXPECT_EQ(ClaimsJson(claims),
            R"({"exp":3700,"iat":100,"inventoryType":"EMOTE","items":[10,-3],"puuid":"p-\"1\""})");
  EXPECT_EQ(ClaimsJson(InventoryClaims{"p", "BANNER", {}, 0, 0}),
            R"({"exp":0,"iat":0,"inventoryType":"BANNER","items":[],"puuid":"p"})");
}

TEST(InventoryTokens, SecretFallsBackToTheDevelopmentSecretWhenUnsetOrEmpty) {
  const char* saved = std::getenv(kSecretVariable);
  const std::string kept = saved != nullptr ? saved : "";
  ::setenv(kSecretVariable, "", 1);
  EXPECT_EQ(SecretFromEnvironment(), kDevelopmentSecret);
  ::setenv(kSecretVariable, "s3cret", 1);
  EXPECT_EQ(SecretFromEnvironment(), "s3cret");
  ::unsetenv(kSecretVariable);
  EXPECT_EQ(SecretFromEnvironment(), kDevelopmentSecret);
  if (saved != nullptr) ::setenv(kSecretVariable, kept.c_str(), 1);
}

}  // namespace
}  // namespace GoxInventory
