#include "tools/gox_host/plugin_stand_ins.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "tools/common/token_signing.h"

namespace GoxHostApp {
namespace {

constexpr const char* kSecret = "test secret";
constexpr std::int64_t kNow = 1000000;

GoxHost::JsonValue Json(const char* text) {
  return GoxHost::JsonValue::Parse(text).value();
}

GoxHost::ServiceCall TeamBuilderCall(const std::string& payload) {
  return GoxHost::ServiceCall{kTeamBuilderService, kGameCustomizationMethod, "", "", payload};
}

class PluginStandInsTest : public ::testing::Test {
 protected:
  PluginStandInsTest() : standIns_(kSecret, [] { return kNow; }) {}

  // Installs the stand-ins in host_ (without loading a module).
  void Install() { standIns_.Install(host_); }

  PluginStandIns standIns_;
  GoxHost::HostCore host_;
};

TEST_F(PluginStandInsTest, DefaultsOfferEveryResourceTheLoadoutsPluginReads) {
  Install();
  for (const char* path :
       {"/gox-login/v1/session", "/bxo-auth/v1/authorization/access-token", "/quarnclient/region-locale",
        "/data-store/v1/system-settings/region_data", "/gox-player-preferences/v1/player-preferences-ready",
        "/gox-platform-config/v1/namespaces/Loadouts",
        "/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes", "/gox-gameflow/v1/session"})
    EXPECT_NE(host_.Resource(path), nullptr) << path;
  const rapidjson::Value& config = host_.Resource(kLoadoutsNamespacePath)->Get();
  for (const char* member : {"InventoryServiceUrl", "LoadoutsServiceUrl", "Enabled"})
    EXPECT_TRUE(config.HasMember(member)) << member;
  // The region names an entry of the region data that has a service location.
  const std::string region = host_.Resource("/quarnclient/region-locale")->Get()["region"].GetString();
  const rapidjson::Value& regions = host_.Resource("/data-store/v1/system-settings/region_data")->Get();
  EXPECT_TRUE(regions[region.c_str()]["servers"]["trovix_service_location"].IsString());
}

TEST_F(PluginStandInsTest, FixturesReplaceDefaultsOrAreRefusedWhole) {
  struct Case {
    const char* fixtures;
    const char* error;  // null: applied
  };
  const Case cases[] = {
      {"[]", "fixtures are not a JSON object"},
      {"{", "fixtures are not a JSON object"},
      {R"({"resource": {}})", "fixtures have an unknown member \"resource\""},
      {R"({"resources": []})", "fixtures \"resources\" must be an object whose keys start with '/'"},
      {R"({"resources": {"gox-login/v1/session": {}}})",
       "fixtures \"resources\" must be an object whose keys start with '/'"},
      {R"({"inventory": {"EMOTE": [1, "2"]}})",
       "fixtures \"inventory\" must map inventory types to arrays of item ids"},
      {R"({"inventory": {"EMOTE": 1}})",
       "fixtures \"inventory\" must map inventory types to arrays of item ids"},
      {R"({"tokenLifetimeSeconds": 0})", "fixtures \"tokenLifetimeSeconds\" must be a positive integer"},
      {R"({"resources": {"/gox-gameflow/v1/session": {"phase": "ChampSelect"}, "/quarnclient/region-locale": null,
                         "/x/v1/new": 5},
          "inventory": {"TRAIL": [7]}, "tokenLifetimeSeconds": 60})",
       nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> error = standIns_.ApplyFixtures(c.fixtures);
    EXPECT_EQ(error.value_or("applied"), c.error != nullptr ? c.error : "applied") << c.fixtures;
    // A refused file changes nothing.
    if (c.error != nullptr) {
      EXPECT_EQ(standIns_.Resources().count("/x/v1/new"), 0u);
    }
  }
  EXPECT_EQ(standIns_.Resources().at("/gox-gameflow/v1/session"), Json(R"({"phase":"ChampSelect"})"));
  EXPECT_EQ(standIns_.Resources().count("/quarnclient/region-locale"), 0u);
  EXPECT_EQ(standIns_.Resources().at("/x/v1/new"), Json("5"));
  standIns_.SetServicesUrl("http://127.0.0.1:1234");
  const GoxHost::JsonValue& config = standIns_.Resources().at(kLoadoutsNamespacePath);
  EXPECT_STREQ(config.Get()["LoadoutsServiceUrl"].GetString(), "http://127.0.0.1:1234");
  EXPECT_STREQ(config.Get()["InventoryServiceUrl"].GetString(), "http://127.0.0.1:1234");
  EXPECT_TRUE(config.Get()["Enabled"].IsBool());

  // The inventory module reads the inventory and the lifetime from the tree.
  Install();
  ASSERT_NE(host_.Resource(kInventoryFixturePath), nullptr);
  EXPECT_EQ(*host_.Resource(kInventoryFixturePath),
            Json(R"({"items":{"TRAIL":[7]},"tokenLifetimeSeconds":60})"));
}

// The gox-inventory module, fed by the stand-ins, signs tokens that the services' verification takes.
TEST_F(PluginStandInsTest, TheInventoryModuleSignsWhatTheServicesVerify) {
  ::setenv("GOX_TOKEN_SECRET", kSecret, 1);
  Install();
  ASSERT_EQ(host_.Load(GOX_INVENTORY_MODULE_PATH), GoxHost::LoadStatus::kLoaded) << host_.LoadError();
  ASSERT_TRUE(host_.Initialize());
  GoxHost::CallRequest request;
  request.path = kSignedInventoryPath;
  request.parameters.push_back(GoxHost::CallParameter{std::nullopt, Json(R"(["EMOTE","NOTHING","EMOTE"])")});
  const GoxHost::CallResponse answer = host_.Call(kSignedInventoryPath, kHttpMethodGet, request);
  host_.Shutdown();
  ::unsetenv("GOX_TOKEN_SECRET");
  ASSERT_FALSE(answer.error.has_value()) << *answer.error;
  const rapidjson::Value& tokens = answer.body.Get();
  ASSERT_TRUE(tokens.IsObject());
  EXPECT_EQ(tokens.MemberCount(), 2u);
  struct Case {
    const char* type;
    const char* items;
  };
  for (const Case& c : {Case{"EMOTE", "[10,11]"}, Case{"NOTHING", "[]"}}) {
    const auto claims = GoxTools::VerifyToken(tokens[c.type].GetString(), kSecret);
    ASSERT_TRUE(std::holds_alternative<GoxHost::JsonValue>(claims)) << c.type;
    const rapidjson::Value& body = std::get<GoxHost::JsonValue>(claims).Get();
    EXPECT_STREQ(body["puuid"].GetString(), "00000000-0000-4000-8000-000000000001");
    EXPECT_STREQ(body["inventoryType"].GetString(), c.type);
    EXPECT_EQ(GoxHost::JsonText(body["items"]), c.items);
    EXPECT_EQ(body["exp"].GetInt64() - body["iat"].GetInt64(), 3600);
  }
  EXPECT_TRUE(host_.Problems().empty());
}

TEST_F(PluginStandInsTest, TheDraftServiceAcceptsOnlyTokensItCanVerify) {
  Install();
  const std::string good = GoxTools::SignToken(Json(R"({"puuid":"p","items":[1]})"), kSecret);
  const std::string forged = GoxTools::SignToken(Json(R"({"puuid":"p","items":[1]})"), "not the secret");
  const std::string expired = GoxTools::SignToken(Json(R"({"puuid":"p","exp":5})"), kSecret);
  struct Case {
    GoxHost::ServiceCall call;
    const char* status;
    const char* error;
  };
  const Case cases[] = {
      {TeamBuilderCall(R"({"prefix":"loadouts","signedJWT":")" + good + "\"}"), "200", ""},
      {TeamBuilderCall(R"({"prefix":"loadouts","signedJWT":")" + forged + "\"}"), "403",
       "signedJWT rejected: token signature does not match"},
      {TeamBuilderCall(R"({"prefix":"loadouts","signedJWT":")" + expired + "\"}"), "403",
       "signedJWT rejected: token has expired"},
      {TeamBuilderCall(R"({"prefix":"loadouts"})"), "400",
       "payload must be a JSON object with the strings \"prefix\" and \"signedJWT\""},
      {TeamBuilderCall("not json"), "400",
       "payload must be a JSON object with the strings \"prefix\" and \"signedJWT\""},
      {GoxHost::ServiceCall{kTeamBuilderService, "other", "", "", "{}"}, "404",
       "unknown service teambuilder-draft method other"},
  };
  for (const Case& c : cases) {
    const GoxHost::ServiceAnswer answer = standIns_.Service(c.call);
    EXPECT_EQ(answer.status, c.status) << c.call.payload;
    EXPECT_EQ(answer.error, c.error) << c.call.payload;
  }
  const auto& calls = standIns_.GameCustomizationCalls();
  ASSERT_EQ(calls.size(), std::size(cases));
  EXPECT_TRUE(calls[0].accepted);
  EXPECT_EQ(calls[0].claims, Json(R"({"puuid":"p","items":[1]})"));
  EXPECT_FALSE(calls[1].accepted);
  const GoxHost::JsonValue shown = standIns_.GameCustomizationJson();
  ASSERT_TRUE(shown.Get().IsArray());
  EXPECT_EQ(shown.Get().Size(), std::size(cases));
  EXPECT_STREQ(shown.Get()[1]["error"].GetString(), "signedJWT rejected: token signature does not match");

  // Only the newest calls are kept.
  for (std::size_t i = 0; i < PluginStandIns::kMaxRecordedCalls + 5; ++i)
    (void)standIns_.Service(TeamBuilderCall("{}"));
  EXPECT_EQ(standIns_.GameCustomizationCalls().size(), PluginStandIns::kMaxRecordedCalls);
}

}  // namespace
}  // namespace GoxHostApp
