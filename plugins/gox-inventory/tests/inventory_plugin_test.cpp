// The inventory module as a host core sees it: loaded from its file, asked through its endpoint.

#include "inventory_plugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_core.h"
#include "inventory_tokens.h"

namespace GoxInventory {
namespace {

using GoxHost::JsonValue;

JsonValue Json(const char* text) {
  return JsonValue::Parse(text).value();
}

// The bytes of a token's claims part.
std::string ClaimsText(const std::string& token) {
  const std::size_t first = token.find('.');
  const std::size_t second = token.find('.', first + 1);
  std::string part = token.substr(first + 1, second - first - 1);
  for (char& c : part) {
    if (c == '-') c = '+';
    if (c == '_') c = '/';
  }
  while (part.size() % 4 != 0)
    part += '=';
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (const char c : part) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<unsigned>(kAlphabet.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

JsonValue ClaimsOf(const std::string& token) {
  return JsonValue::Parse(ClaimsText(token)).value_or(JsonValue{});
}

class InventoryModule : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(kSecretVariable, "test-secret", 1);
    host_.SetResource(kSessionPath, Json(R"({"puuid":"p-7"})"));
    host_.SetResource(kInventoryFixturePath,
                      Json(R"({"items":{"EMOTE":[10,11],"BANNER":[2]},"tokenLifetimeSeconds":60})"));
    ASSERT_EQ(host_.Load(GOX_INVENTORY_MODULE_PATH), GoxHost::LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_TRUE(host_.Initialize());
  }
  void TearDown() override {
    host_.Shutdown();
    EXPECT_TRUE(host_.Problems().empty()) << host_.Problems().front();
    ::unsetenv(kSecretVariable);
  }

  // Calls the endpoint with the types as the first positional parameter, as SendRequest sends them.
  GoxHost::CallResponse Ask(const char* typesJson) {
    GoxHost::CallRequest request;
    request.method = kHttpMethodGet;
    request.path = kSignedInventoryPath;
    request.parameters.push_back(GoxHost::CallParameter{std::nullopt, Json(typesJson)});
    return host_.Call(kSignedInventoryPath, kHttpMethodGet, request);
  }

  GoxHost::HostCore host_;
};

TEST_F(InventoryModule, SignsOneTokenPerDistinctTypeWithThePlayersItems) {
  const GoxHost::CallResponse answer = Ask(R"(["EMOTE","COMPANION","EMOTE"])");
  ASSERT_FALSE(answer.error) << *answer.error;
  const auto& body = answer.body.Get();
  ASSERT_TRUE(body.IsObject()) << answer.body.Text();
  EXPECT_EQ(body.MemberCount(), 2u);
  ASSERT_TRUE(body.HasMember("EMOTE") && body["EMOTE"].IsString());
  ASSERT_TRUE(body.HasMember("COMPANION") && body["COMPANION"].IsString());

  const JsonValue emote = ClaimsOf(body["EMOTE"].GetString());
  EXPECT_STREQ(emote.Get()["puuid"].GetString(), "p-7");
  EXPECT_STREQ(emote.Get()["inventoryType"].GetString(), "EMOTE");
  EXPECT_EQ(emote.Get()["items"].Size(), 2u);
  EXPECT_EQ(emote.Get()["items"][1].GetInt(), 11);
  EXPECT_EQ(emote.Get()["exp"].GetInt64() - emote.Get()["iat"].GetInt64(), 60);
  // A type the player owns nothing of is still signed, with no items.
  EXPECT_EQ(ClaimsOf(body["COMPANION"].GetString()).Get()["items"].Size(), 0u);

  // Signed with the secret of the environment: the same claims signed here give the same token.
  const std::string token = body["EMOTE"].GetString();
  EXPECT_EQ(SignToken(ClaimsText(token), "test-secret"), token);
}

TEST_F(InventoryModule, FollowsThePlayerAndTheItemsAsTheyChange) {
  host_.PublishResource(kSessionPath, Json(R"({"puuid":"p-8"})"));
  host_.PublishResource(kInventoryFixturePath, Json(R"({"items":{"EMOTE":[99]}})"));
  host_.DeliverPendingEvents();
  const GoxHost::CallResponse answer = Ask(R"(["EMOTE"])");
  ASSERT_FALSE(answer.error) << *answer.error;
  const JsonValue claims = ClaimsOf(answer.body.Get()["EMOTE"].GetString());
  EXPECT_STREQ(claims.Get()["puuid"].GetString(), "p-8");
  EXPECT_EQ(claims.Get()["items"][0].GetInt(), 99);
  // Without a lifetime in the fixture the default applies.
  EXPECT_EQ(claims.Get()["exp"].GetInt64() - claims.Get()["iat"].GetInt64(), kDefaultTokenLifetime);
}

TEST_F(InventoryModule, RefusesWithoutAPlayerOrWithoutAList) {
  host_.DeleteResource(kSessionPath);
  host_.DeliverPendingEvents();
  const GoxHost::CallResponse noPlayer = Ask(R"(["EMOTE"])");
  ASSERT_TRUE(noPlayer.error);
  EXPECT_EQ(noPlayer.status, 503);
  EXPECT_NE(noPlayer.error->find(kNoSession), std::string::npos) << *noPlayer.error;

  host_.PublishResource(kSessionPath, Json(R"({"puuid":"p-7"})"));
  host_.DeliverPendingEvents();
  for (const char* notAList : {R"("EMOTE")", R"({"EMOTE":1})"}) {
    const GoxHost::CallResponse answer = Ask(notAList);
    EXPECT_TRUE(answer.error) << notAList;
  }
}

}  // namespace
}  // namespace GoxInventory
