// gox-services' HTTP surface, served in-process on an ephemeral loopback port: the bearer check, the
// token checks, the store-read-delete cycle, the inventory answers, the admin API and the faults.

#include "services/services_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/json_value.h"
#include "services/item_ownership.h"
#include "services/loadouts_service.h"
#include "services/service_text.h"
#include "tools/common/token_signing.h"

namespace GoxServices {
namespace {

constexpr const char* kSecret = "services-test-secret";
constexpr const char* kPuuid = "00000000-0000-4000-8000-000000000001";
constexpr const char* kBearer = "Bearer test-access-token";

GoxHost::JsonValue Json(const std::string& text) {
  return GoxHost::JsonValue::Parse(text).value();
}

// An inventory token as gox-host's inventory stand-in signs it.
std::string InventoryToken(const std::string& puuid, const std::string& type, const std::string& items,
                           const std::string& secret = kSecret, std::int64_t exp = SecondsNow() + 3600) {
  return GoxTools::SignToken(Json(R"({"puuid":")" + puuid + R"(","inventoryType":")" + type +
                                  R"(","items":)" + items + R"(,"iat":1,"exp":)" + std::to_string(exp) + "}"),
                             secret);
}

std::string Quoted(const std::string& text) {
  return GoxHost::JsonValue::String(text).Text();
}

std::string SetBody(std::uint32_t id, const std::string& items, const std::vector<std::string>& tokens) {
  std::string jwts;
  for (const std::string& token : tokens)
    jwts += (jwts.empty() ? "" : ",") + Quoted(token);
  return R"({"id":)" + std::to_string(id) + R"(,"items":)" + items + R"(,"inventoryJWTs":[)" + jwts + "]}";
}

std::string GetBody(std::uint32_t id, const std::vector<std::string>& types,
                    const std::vector<std::string>& tokens) {
  std::string names;
  for (const std::string& type : types)
    names += (names.empty() ? "" : ",") + Quoted(type);
  std::string jwts;
  for (const std::string& token : tokens)
    jwts += (jwts.empty() ? "" : ",") + Quoted(token);
  return R"({"id":)" + std::to_string(id) + R"(,"inventoryTypes":[)" + names + R"(],"inventoryJWTs":[)" +
         jwts + "]}";
}

class ServicesServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServicesOptions options;
    options.port = 0;
    options.threads = 8;
    server_ = std::make_unique<ServicesServer>(options, kSecret);
    ASSERT_EQ(server_->Start(), std::nullopt);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    client_->set_read_timeout(std::chrono::seconds(10));
    client_->set_default_headers({{"Authorization", kBearer}});
  }

  httplib::Result Post(const std::string& path, const std::string& body) {
    return client_->Post(path, body, "application/json");
  }
  // Stores EMOTE 10 and BANNER [1, 2] in loadout `id`, owning EMOTE 10 11 and BANNER 1 2 3.
  httplib::Result StoreSample(std::uint32_t id, const std::string& puuid = kPuuid) {
    return Post(
        "/loadouts/v3/items?puuid=" + Encoded(puuid),
        SetBody(id, R"({"EMOTE":[10],"BANNER":{"slot1":1,"slot2":{"itemId":2}}})",
                {InventoryToken(puuid, "EMOTE", "[10,11]"), InventoryToken(puuid, "BANNER", "[1,2,3]")}));
  }
  httplib::Result Read(std::uint32_t id, const std::vector<std::string>& types,
                       const std::string& puuid = kPuuid) {
    std::vector<std::string> tokens;
    for (const std::string& type : types)
      tokens.push_back(InventoryToken(puuid, type, "[]"));
    return Post("/loadouts/v3/items/get?puuid=" + Encoded(puuid), GetBody(id, types, tokens));
  }
  static std::string Encoded(const std::string& value) { return httplib::detail::encode_query_param(value); }

  std::unique_ptr<ServicesServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ServicesServerTest, EveryServicePathWantsABearerToken) {
  httplib::Client bare("127.0.0.1", server_->Port());
  const std::string wrongScheme = "Basic dXNlcjpwYXNz";
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"POST", "/loadouts/v3/items/get?puuid=p"},
      {"POST", "/loadouts/v3/items?puuid=p"},
      {"DELETE", "/loadouts/v3/items/1?inventoryType=EMOTE&puuid=p"},
      {"POST", "/loadouts/v3/signedItems/get?puuid=p"},
      {"POST", "/loadouts/v3/setGameCustomization/?location=l&puuid=p&accountId=1"},
      {"GET", "/goxinventoryservice/v2/inventories?puuid=p&signed=false&location=l"},
  };
  for (const auto& [method, path] : calls) {
    for (const httplib::Headers& headers :
         {httplib::Headers{}, httplib::Headers{{"Authorization", wrongScheme}},
          httplib::Headers{{"Authorization", "Bearer "}}}) {
      httplib::Result result = method == "GET"      ? bare.Get(path, headers)
                               : method == "DELETE" ? bare.Delete(path, headers)
                                                    : bare.Post(path, headers, "{}", "application/json");
      ASSERT_TRUE(result) << path;
      EXPECT_EQ(result->status, 401) << method << " " << path;
      EXPECT_EQ(result->body, FailureJson(401, kMissingBearer));
    }
  }
}

TEST_F(ServicesServerTest, StoredItemsReadBackPerTypeAndDeleteOneTypeAtATime) {
  ASSERT_EQ(StoreSample(1)->status, 204);
  httplib::Result read = Read(1, {"EMOTE", "BANNER", "COMPANION"});
  ASSERT_EQ(read->status, 200) << read->body;
  EXPECT_EQ(Json(read->body), Json(R"({"EMOTE":[10],"BANNER":{"slot1":1,"slot2":{"itemId":2}}})"));

  // Another loadout and another player are apart.
  EXPECT_EQ(Read(2, {"EMOTE"})->body, "{}");
  EXPECT_EQ(Read(1, {"EMOTE"}, "someone-else")->body, "{}");

  httplib::Result removed =
      client_->Delete("/loadouts/v3/items/1?inventoryType=EMOTE&puuid=" + Encoded(kPuuid));
  ASSERT_EQ(removed->status, 204) << removed->body;
  EXPECT_EQ(Json(Read(1, {"EMOTE", "BANNER"})->body), Json(R"({"BANNER":{"slot1":1,"slot2":{"itemId":2}}})"));
  // Deleting what is not there is not an error.
  EXPECT_EQ(client_->Delete("/loadouts/v3/items/1?inventoryType=EMOTE&puuid=" + Encoded(kPuuid))->status,
            204);

  // A second store replaces the type's items.
  ASSERT_EQ(Post("/loadouts/v3/items?puuid=" + Encoded(kPuuid),
                 SetBody(1, R"({"BANNER":[3]})", {InventoryToken(kPuuid, "BANNER", "[1,2,3]")}))
                ->status,
            204);
  EXPECT_EQ(Read(1, {"BANNER"})->body, R"({"BANNER":[3]})");
}

TEST_F(ServicesServerTest, PercentEncodedQueryValuesAreDecoded) {
  const std::string puuid = "odd puuid&x=1?#+%/é";
  ASSERT_EQ(StoreSample(7, puuid)->status, 204);
  EXPECT_EQ(Json(Read(7, {"EMOTE"}, puuid)->body), Json(R"({"EMOTE":[10]})"));
  EXPECT_EQ(Read(7, {"EMOTE"}, "odd puuid")->body, "{}");

  const std::string type = "TYPE WITH & SPACE";
  ASSERT_EQ(Post("/loadouts/v3/items?puuid=" + Encoded(puuid),
                 SetBody(7, "{" + Quoted(type) + ":[5]}", {InventoryToken(puuid, type, "[5]")}))
                ->status,
            204);
  ASSERT_EQ(
      client_->Delete("/loadouts/v3/items/7?inventoryType=" + Encoded(type) + "&puuid=" + Encoded(puuid))
          ->status,
      204);
  EXPECT_EQ(Read(7, {type}, puuid)->body, "{}");
}

TEST_F(ServicesServerTest, RefusesWhatTheTokensDoNotProve) {
  const std::string path = "/loadouts/v3/items?puuid=" + Encoded(kPuuid);
  const std::string emote = InventoryToken(kPuuid, "EMOTE", "[10,11]");
  struct Case {
    std::string body;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {SetBody(1, R"({"EMOTE":[10,99]})", {emote}), 403, "item 99 of EMOTE is not owned"},
      {SetBody(1, R"({"BANNER":[1]})", {emote}), 403, "no valid inventory token for BANNER"},
      {SetBody(1, R"({"EMOTE":[10]})", {InventoryToken("another-player", "EMOTE", "[10]")}), 403,
       "inventory token of EMOTE is for another player"},
      {SetBody(1, R"({"EMOTE":[10]})", {InventoryToken(kPuuid, "EMOTE", "[10]", "forged")}), 403,
       "inventory token refused: token signature does not match"},
      {SetBody(1, R"({"EMOTE":[10]})", {InventoryToken(kPuuid, "EMOTE", "[10]", kSecret, 5)}), 403,
       "inventory token refused: token has expired"},
      {SetBody(1, R"({"EMOTE":[10]})", {"not.a.token"}), 403,
       "inventory token refused: token header is not a JSON object"},
      {SetBody(1, R"({"EMOTE":["10"]})", {emote}), 403, "items of EMOTE must be item ids"},
      {SetBody(1, R"({"EMOTE":[10.5]})", {emote}), 403, "items of EMOTE must be item ids"},
      {SetBody(1, R"({"EMOTE":{"itemId":"x"}})", {emote}), 403, "items of EMOTE must be item ids"},
      {R"({"id":-1,"items":{},"inventoryJWTs":[]})", 400, ""},
      {R"({"id":1,"items":[],"inventoryJWTs":[]})", 400, ""},
      {R"({"id":1,"items":{},"inventoryJWTs":[1]})", 400, ""},
      {"not json", 400, ""},
  };
  for (const Case& c : cases) {
    httplib::Result result = Post(path, c.body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status) << c.body;
    if (!c.message.empty()) {
      EXPECT_EQ(result->body, FailureJson(c.status, c.message)) << c.body;
    }
  }
  // Nothing of the refused stores was kept.
  EXPECT_EQ(Read(1, {"EMOTE", "BANNER"})->body, "{}");
  // Reading needs a token for each type read.
  httplib::Result read =
      Post("/loadouts/v3/items/get?puuid=" + Encoded(kPuuid), GetBody(1, {"EMOTE", "BANNER"}, {emote}));
  EXPECT_EQ(read->status, 403);
  EXPECT_EQ(read->body, FailureJson(403, "no valid inventory token for BANNER"));
}

TEST_F(ServicesServerTest, MalformedRequestsAreRefusedWith400) {
  const std::vector<std::pair<std::string, std::string>> deletes = {
      {"/loadouts/v3/items/x?inventoryType=EMOTE&puuid=p", "the loadout id must be a uint32"},
      {"/loadouts/v3/items/4294967296?inventoryType=EMOTE&puuid=p", "the loadout id must be a uint32"},
      {"/loadouts/v3/items/1?puuid=p", "the query needs an inventoryType"},
      {"/loadouts/v3/items/1?inventoryType=EMOTE", "the query needs a puuid"},
  };
  for (const auto& [path, message] : deletes)
    EXPECT_EQ(client_->Delete(path)->body, FailureJson(400, message)) << path;
  EXPECT_EQ(Post("/loadouts/v3/items/get", GetBody(1, {}, {}))->body,
            FailureJson(400, "the query needs a puuid"));
  EXPECT_EQ(
      Post("/loadouts/v3/setGameCustomization/?location=l&puuid=p&accountId=-1", GetBody(1, {}, {}))->body,
      FailureJson(400, "the query needs an accountId (uint64)"));
  EXPECT_EQ(client_->Get("/nowhere")->status, 404);

  // Nesting the parser would recurse through a level at a time is refused before parsing; within the
  // limit, a string full of brackets is only text.
  const std::string deep = R"({"id":1,"items":{"EMOTE":)" + std::string(500000, '[') +
                           std::string(500000, ']') + R"(},"inventoryJWTs":[]})";
  EXPECT_EQ(Post("/loadouts/v3/items?puuid=p", deep)->body, FailureJson(400, kBadSetBody));
  EXPECT_EQ(client_->Put("/admin/fault", std::string(100000, '{'), "application/json")->status, 400);
  const std::string bracketsInText =
      R"({"id":1,"items":{},"inventoryJWTs":[")" + std::string(1000, '[') + R"("]})";
  EXPECT_EQ(Post("/loadouts/v3/items?puuid=p", bracketsInText)->body,
            FailureJson(403, "inventory token refused: token is not three base64url parts"));
  EXPECT_EQ(Read(1, {"EMOTE"})->status, 200);
}

TEST_F(ServicesServerTest, SignedItemsCarryTheStoredItemsOfTheAskedTypes) {
  ASSERT_EQ(StoreSample(3)->status, 204);
  const std::vector<std::string> types = {"COMPANION", "EMOTE", "BANNER"};
  std::vector<std::string> tokens;
  for (const std::string& type : types)
    tokens.push_back(InventoryToken(kPuuid, type, "[]"));
  httplib::Result signedItems =
      Post("/loadouts/v3/signedItems/get?puuid=" + Encoded(kPuuid), GetBody(3, types, tokens));
  ASSERT_EQ(signedItems->status, 200) << signedItems->body;
  const GoxHost::JsonValue list = Json(signedItems->body);
  ASSERT_TRUE(list.Get().IsArray());
  ASSERT_EQ(list.Get().Size(), 2u);  // nothing stored for COMPANION
  const char* expected[][2] = {{"EMOTE", "[10]"}, {"BANNER", R"({"slot1":1,"slot2":{"itemId":2}})"}};
  for (rapidjson::SizeType i = 0; i < 2; ++i) {
    auto claims = GoxTools::VerifyToken(list.Get()[i].GetString(), kSecret, SecondsNow());
    ASSERT_TRUE(std::holds_alternative<GoxHost::JsonValue>(claims));
    const rapidjson::Value& body = std::get<GoxHost::JsonValue>(claims).Get();
    EXPECT_EQ(std::string(body["puuid"].GetString()), kPuuid);
    EXPECT_EQ(body["loadoutId"].GetUint(), 3u);
    EXPECT_EQ(std::string(body["inventoryType"].GetString()), expected[i][0]);
    EXPECT_EQ(GoxHost::JsonText(body["items"]), expected[i][1]);
  }
}

TEST_F(ServicesServerTest, GameCustomizationIsRecordedForTheAdminApi) {
  ASSERT_EQ(StoreSample(1)->status, 204);
  const std::vector<std::string> types = {"EMOTE", "COMPANION"};
  httplib::Result set = Post(
      "/loadouts/v3/setGameCustomization/?location=local%201&puuid=" + Encoded(kPuuid) +
          "&accountId=18446744073709551615",
      GetBody(1, types, {InventoryToken(kPuuid, "EMOTE", "[]"), InventoryToken(kPuuid, "COMPANION", "[]")}));
  ASSERT_EQ(set->status, 200) << set->body;
  httplib::Result recorded = client_->Get("/admin/game-customization");
  ASSERT_EQ(recorded->status, 200);
  EXPECT_EQ(Json(recorded->body), Json(std::string(R"([{"puuid":")") + kPuuid +
                                       R"(","location":"local 1","accountId":18446744073709551615,"id":1,)"
                                       R"("inventoryTypes":["EMOTE","COMPANION"],"items":{"EMOTE":[10]}}])"));
}

TEST_F(ServicesServerTest, InventoryAnswersTheAskedTypesAndSignsOnRequest) {
  const std::string base = "/goxinventoryservice/v2/inventories?puuid=" + Encoded(kPuuid);
  httplib::Result some =
      client_->Get(base + "&inventoryTypes=EMOTE&inventoryTypes=NOTHING&signed=false&location=x");
  ASSERT_EQ(some->status, 200) << some->body;
  const GoxHost::JsonValue answer = Json(some->body);
  const rapidjson::Value& data = answer.Get()["data"];
  EXPECT_EQ(data["accountId"].GetUint64(), 1001u);
  EXPECT_EQ(data["summonerId"].GetUint64(), 2001u);
  EXPECT_FALSE(data.HasMember("itemsJwt"));
  ASSERT_EQ(data["items"].MemberCount(), 2u);
  EXPECT_EQ(data["items"]["NOTHING"].Size(), 0u);
  ASSERT_EQ(data["items"]["EMOTE"].Size(), 2u);
  EXPECT_EQ(data["items"]["EMOTE"][1]["itemId"].GetInt(), 11);
  EXPECT_EQ(std::string(data["items"]["EMOTE"][1]["inventoryType"].GetString()), "EMOTE");
  EXPECT_TRUE(data["items"]["EMOTE"][1].HasMember("eneitlementTypeId"));

  httplib::Result all = client_->Get(base + "&signed=true&location=x");
  ASSERT_EQ(all->status, 200);
  const GoxHost::JsonValue signedAnswer = Json(all->body);
  EXPECT_EQ(signedAnswer.Get()["data"]["items"].MemberCount(), 3u);
  auto claims =
      GoxTools::VerifyToken(signedAnswer.Get()["data"]["itemsJwt"].GetString(), kSecret, SecondsNow());
  ASSERT_TRUE(std::holds_alternative<GoxHost::JsonValue>(claims));
  EXPECT_EQ(GoxHost::JsonText(std::get<GoxHost::JsonValue>(claims).Get()["items"]),
            R"({"BANNER":[1,2,3],"COMPANION":[100],"EMOTE":[10,11]})");

  EXPECT_EQ(client_->Get("/goxinventoryservice/v2/inventories?puuid=stranger&signed=false")->body,
            FailureJson(404, "no inventory for puuid stranger"));
  EXPECT_EQ(client_->Get(base + "&signed=yes")->body,
            FailureJson(400, "the query's signed must be true or false"));
}

TEST_F(ServicesServerTest, FaultsHitTheServicesUntilCleared) {
  const auto setFault = [this](const std::string& json) {
    return client_->Put("/admin/fault", json, "application/json");
  };
  const std::string inventory =
      "/goxinventoryservice/v2/inventories?puuid=" + Encoded(kPuuid) + "&signed=false";

  ASSERT_EQ(setFault(R"({"mode":"error","status":502,"body":"down for a while","count":2})")->status, 200);
  for (int i = 0; i < 2; ++i) {
    httplib::Result hit = client_->Get(inventory);
    EXPECT_EQ(hit->status, 502);
    EXPECT_EQ(hit->body, "down for a while");
  }
  EXPECT_EQ(client_->Get(inventory)->status, 200);  // the count ran out
  EXPECT_EQ(client_->Get("/admin/fault")->body, "null");

  ASSERT_EQ(setFault(R"({"mode":"error"})")->status, 200);
  EXPECT_EQ(client_->Get(inventory)->body, kDefaultFaultBody);
  // The admin API itself is never hit.
  EXPECT_EQ(client_->Delete("/admin/fault")->status, 204);

  ASSERT_EQ(setFault(R"({"mode":"malformed","path":"/goxinventoryservice/"})")->status, 200);
  EXPECT_EQ(client_->Get(inventory)->body, kMalformedBody);
  EXPECT_FALSE(GoxHost::JsonValue::Parse(kMalformedBody).has_value());
  EXPECT_EQ(Read(1, {"EMOTE"})->status, 200);  // another path

  ASSERT_EQ(setFault(R"({"mode":"close"})")->status, 200);
  EXPECT_FALSE(client_->Get(inventory));

  ASSERT_EQ(setFault(R"({"mode":"slow","delayMs":300,"count":1})")->status, 200);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client_->Get(inventory)->status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  const std::pair<const char*, const char*> refused[] = {
      {"{}", "a fault is a JSON object with a \"mode\""},
      {R"({"mode":"explode"})", "\"mode\" must be one of slow, error, malformed, close"},
      {R"({"mode":"slow","delayMs":-1})", "fault member \"delayMs\" has the wrong type or range"},
      {R"({"mode":"slow","delayMs":999999999})", "fault member \"delayMs\" has the wrong type or range"},
      {R"({"mode":"error","status":700})", "fault member \"status\" has the wrong type or range"},
      {R"({"mode":"error","count":0})", "fault member \"count\" has the wrong type or range"},
      {R"({"mode":"error","colour":"red"})", "unknown fault member \"colour\""},
  };
  for (const auto& [json, message] : refused)
    EXPECT_EQ(setFault(json)->body, FailureJson(400, message)) << json;
}

}  // namespace
}  // namespace GoxServices
