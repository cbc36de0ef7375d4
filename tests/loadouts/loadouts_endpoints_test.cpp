// The five endpoints called through the stand-in host core's call entries, against scripted remote
// services: what each sends, answers, logs and publishes.

#include "loadouts/loadouts_endpoints.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "loadouts/upstream_subscriptions.h"
#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;

const std::string kItemsGet = std::string(kLoadoutsBase) + "/loadouts/v3/items/get";
const std::string kItemsSet = std::string(kLoadoutsBase) + "/loadouts/v3/items";
const std::string kItemsDelete = std::string(kLoadoutsBase) + "/loadouts/v3/items/7";
const std::string kInventory = std::string(kInventoryBase) + "/goxinventoryservice/v2/inventories";
const std::string kSignedItems = std::string(kLoadoutsBase) + "/loadouts/v3/signedItems/get";
// The whole URLs the fixture's state makes; the transport answers only a URL sent exactly so.
const std::string kItemsGetUrl = kItemsGet + "?puuid=p-1";
const std::string kItemsSetUrl = kItemsSet + "?puuid=p-1";
const std::string kItemsDeleteUrl = kItemsDelete + "?inventoryType=A&puuid=p-1";
const std::string kInventoryAllUrl = kInventory + "?puuid=p-1&signed=false&location=loc-euw";
const std::string kSignedItemsUrl = kSignedItems + "?puuid=p-1";

GoxHost::ExternalResult Answer(std::int32_t status, std::string body) {
  return GoxHost::ExternalResult{0, status, {}, std::move(body)};
}

struct Row {
  const char* name;
  const char* route;
  std::uint32_t method;
  std::string path;
  std::string body;
  std::string answerUrl;                          // routed for the row's remote method
  std::optional<GoxHost::ExternalResult> answer;  // none: the transport cannot connect
  std::int32_t status;
  std::string result;  // the error, or the body's JSON
  bool logged;         // the error is the one error-level line
  std::vector<std::string> published;
};

std::uint32_t RemoteMethod(const Row& row) {
  if (row.method == kHttpMethodDelete) return kHttpMethodDelete;
  return std::string(row.route) == kInventoryRoute ? kHttpMethodGet : kHttpMethodPost;
}

constexpr const char* kItemsBody = R"({"A":{"skin":3},"B":[2]})";
constexpr const char* kSignedFailurePrefix =
    "Error fetching signed inventories: Unable to obtain signed inventory from gox-inventory plugin: ";

const Row kRows[] = {
    // Reading items.
    {"GetItems200",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(200, R"({"A":{"skin":3},"B":null})"),
     0,
     R"({"skin":3})",
     false,
     {}},
    {"GetItemsTypeAbsent",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/C",
     "",
     kItemsGetUrl,
     Answer(200, R"({"A":1})"),
     0,
     "null",
     false,
     {}},
    {"GetItemsArray",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(200, "[1,2]"),
     500,
     "Couldn't deserialize items response: [1,2]",
     true,
     {}},
    {"GetItems204",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(204, ""),
     500,
     "Couldn't deserialize items response: ",
     true,
     {}},
    {"GetItems302",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(302, "moved"),
     500,
     "Error fetching items from service: moved",
     true,
     {}},
    {"GetItems404",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(404, ""),
     500,
     "Error fetching items from service: ",
     true,
     {}},
    {"GetItems500",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     Answer(500, R"({"message":"down"})"),
     500,
     R"(Error fetching items from service: {"message":"down"})",
     true,
     {}},
    {"GetItemsUnreachable",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/7/A",
     "",
     kItemsGetUrl,
     std::nullopt,
     500,
     "Error fetching items from service: ",
     true,
     {}},
    {"GetItemsBadId",
     kItemsOfTypeRoute,
     kHttpMethodGet,
     "/gox-loadouts/v2/items/-1/A",
     "",
     kItemsGetUrl,
     Answer(200, "{}"),
     0,
     "Value -1 for 'id' of type uint32 is out of range",
     false,
     {}},
    // Storing items.
    {"SetItems200",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     Answer(200, "{}"),
     0,
     "null",
     false,
     {R"(Update /gox-loadouts/v2/items/7/A {"skin":3})", "Update /gox-loadouts/v2/items/7/B [2]"}},
    {"SetItems204",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     Answer(204, ""),
     0,
     "null",
     false,
     {R"(Update /gox-loadouts/v2/items/7/A {"skin":3})", "Update /gox-loadouts/v2/items/7/B [2]"}},
    {"SetItemsEmpty",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     "{}",
     kItemsSetUrl,
     Answer(200, ""),
     0,
     "null",
     false,
     {}},
    {"SetItems302",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     Answer(302, "elsewhere"),
     500,
     "Error setting items with service: elsewhere",
     true,
     {}},
    {"SetItems404",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     Answer(404, ""),
     500,
     "Error setting items with service: ",
     true,
     {}},
    {"SetItems500",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     Answer(500, "owned?"),
     500,
     "Error setting items with service: owned?",
     true,
     {}},
    {"SetItemsUnreachable",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     kItemsBody,
     kItemsSetUrl,
     std::nullopt,
     500,
     "Error setting items with service: ",
     true,
     {}},
    {"SetItemsBodyNotAnObject",
     kItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v2/items/7",
     "[1]",
     kItemsSetUrl,
     Answer(200, ""),
     0,
     "Couldn't assign value to 'items' of type map because the input not a structure.",
     false,
     {}},
    // Deleting items.
    {"DeleteItems200",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7?inventoryType=A",
     "",
     kItemsDeleteUrl,
     Answer(200, ""),
     0,
     "null",
     false,
     {"Delete /gox-loadouts/v2/items/7/A null"}},
    {"DeleteItems204",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7?inventoryType=A",
     "",
     kItemsDeleteUrl,
     Answer(204, ""),
     0,
     "null",
     false,
     {"Delete /gox-loadouts/v2/items/7/A null"}},
    {"DeleteItems302",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7?inventoryType=A",
     "",
     kItemsDeleteUrl,
     Answer(302, ""),
     500,
     "Error deleting loadout in service: ",
     true,
     {}},
    {"DeleteItems404",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7?inventoryType=A",
     "",
     kItemsDeleteUrl,
     Answer(404, "no loadout"),
     500,
     "Error deleting loadout in service: no loadout",
     true,
     {}},
    {"DeleteItemsUnreachable",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7?inventoryType=A",
     "",
     kItemsDeleteUrl,
     std::nullopt,
     500,
     "Error deleting loadout in service: ",
     true,
     {}},
    {"DeleteItemsWithoutType",
     kItemsRoute,
     kHttpMethodDelete,
     "/gox-loadouts/v2/items/7",
     "",
     kItemsDeleteUrl,
     Answer(200, ""),
     0,
     "A value for 'inventoryType' is required.",
     false,
     {}},
    // The inventory.
    {"Inventory200",
     kInventoryRoute,
     kHttpMethodGet,
     R"(/gox-loadouts/v1/inventory?inventoryTypes=["A","B"])",
     "",
     kInventory + "?puuid=p-1&inventoryTypes=A&inventoryTypes=B&signed=false&location=loc-euw",
     Answer(200, R"({"data":{"items":{"A":[{"itemId":1,"inventoryType":"A"},null],"B":[{"itemId":2,)"
                 R"("inventoryType":"Z"}],"X":{"itemId":3}},"itemsJwt":null}})"),
     0,
     R"({"entitlements":[{"inventoryType":"A","itemId":1},{"inventoryType":"","itemId":0},)"
     R"({"inventoryType":"Z","itemId":2}]})",
     false,
     {}},
    {"InventoryEntryThatDoesNotConvertIsSkipped",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes.0=A",
     "",
     kInventory + "?puuid=p-1&inventoryTypes=A&signed=false&location=loc-euw",
     Answer(200, R"({"data":{"items":{"A":[{"itemId":1},{"itemId":"x"}],"B":[{"itemId":5}]}}})"),
     0,
     R"({"entitlements":[{"inventoryType":"","itemId":5}]})",
     false,
     {}},
    {"InventoryWithoutData",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=",
     "",
     kInventoryAllUrl,
     Answer(200, "{}"),
     0,
     R"({"entitlements":[]})",
     false,
     {}},
    {"InventoryNotJson",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=",
     "",
     kInventoryAllUrl,
     Answer(200, "nope"),
     500,
     "Couldn't deserialize inventory response: nope",
     true,
     {}},
    {"InventoryWrongShape",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=",
     "",
     kInventoryAllUrl,
     Answer(200, R"({"data":[]})"),
     500,
     R"(Couldn't deserialize inventory response: {"data":[]})",
     true,
     {}},
    {"Inventory500",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=",
     "",
     kInventoryAllUrl,
     Answer(500, "body not quoted"),
     500,
     "Could not get inventory from goxinventoryservice: ",
     true,
     {}},
    {"InventoryUnreachable",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=",
     "",
     kInventoryAllUrl,
     std::nullopt,
     500,
     "Could not get inventory from goxinventoryservice: no route",
     true,
     {}},
    {"InventoryPlainTextIsNoList",
     kInventoryRoute,
     kHttpMethodGet,
     "/gox-loadouts/v1/inventory?inventoryTypes=A",
     "",
     kInventoryAllUrl,
     Answer(200, "{}"),
     0,
     "Couldn't assign value to 'inventoryTypes' of type vector because the input not a collection.",
     false,
     {}},
    // Pushing a loadout into the game.
    {"SendItems200",
     kSendItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v1/sendItemsToDuviRidaze/3",
     "",
     kSignedItemsUrl,
     Answer(200, R"(["s1",null])"),
     0,
     "null",
     false,
     {}},
    {"SendItems404",
     kSendItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v1/sendItemsToDuviRidaze/3",
     "",
     kSignedItemsUrl,
     Answer(404, "gone"),
     500,
     "Error fetching signed loadout from service: gone",
     false,
     {}},
    {"SendItemsUnreachable",
     kSendItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v1/sendItemsToDuviRidaze/3",
     "",
     kSignedItemsUrl,
     std::nullopt,
     500,
     "Error fetching signed loadout from service: ",
     false,
     {}},
    {"SendItemsNotAList",
     kSendItemsRoute,
     kHttpMethodPost,
     "/gox-loadouts/v1/sendItemsToDuviRidaze/3",
     "",
     kSignedItemsUrl,
     Answer(200, R"({"a":1})"),
     500,
     R"(Couldn't deserialize items response: {"a":1})",
     true,
     {}},
};

class LoadoutsEndpointsTest : public LoadoutsFixture {
 protected:
  GoxHost::CallResponse CallRow(const Row& row) { return Call(row.route, row.method, row.path, row.body); }

  static std::string ResultOf(const GoxHost::CallResponse& response) {
    return response.error.value_or(response.body.Text());
  }
};

TEST_F(LoadoutsEndpointsTest, EachOperationAgainstEachKindOfAnswer) {
  Start();
  for (const Row& row : kRows) {
    transport_->Clear();
    host_.ClearRecords();
    if (row.answer) transport_->Route(RemoteMethod(row), row.answerUrl, *row.answer);
    const GoxHost::CallResponse response = CallRow(row);
    EXPECT_EQ(response.status, row.status) << row.name;
    EXPECT_EQ(ResultOf(response), row.result) << row.name;
    EXPECT_TRUE(response.released) << row.name;
    EXPECT_EQ(Errors(), row.logged ? std::vector<std::string>{row.result} : std::vector<std::string>())
        << row.name;
    EXPECT_EQ(Published(), row.published) << row.name;
  }
}

TEST_F(LoadoutsEndpointsTest, EveryEndpointRefusesWhileSwitchedOff) {
  Set(kConfigurationPath, ConfigurationJson(R"("yes")"));
  Start();
  for (const Row& row : kRows) {
    // Arguments the framework refuses never reach the switch.
    const bool refusedByBinding = row.result.starts_with("Couldn't assign") ||
                                  row.result.starts_with("Value ") || row.result.starts_with("A value");
    if (refusedByBinding) continue;
    host_.ClearRecords();
    const GoxHost::CallResponse response = CallRow(row);
    EXPECT_EQ(response.status, 503) << row.name;
    EXPECT_EQ(ResultOf(response), kNotEnabled) << row.name;
    EXPECT_EQ(Errors(), std::vector<std::string>{kNotEnabled}) << row.name;
  }
  EXPECT_EQ(Requests(), std::vector<std::string>());
  EXPECT_EQ(signedRequests, std::vector<std::string>());
}

TEST_F(LoadoutsEndpointsTest, RemoteRequestsCarryTheStateOfTheMoment) {
  Start();
  transport_->RouteJson(kHttpMethodPost, kItemsSetUrl, "{}");
  Publish(kAccessTokenPath, R"({"token":"fresh"})");
  ASSERT_EQ(CallRow(kRows[9]).status, 0);
  ASSERT_EQ(transport_->Calls().size(), 1u);
  const GoxHost::ExternalCall& call = transport_->Calls()[0];
  EXPECT_EQ(call.url, kItemsSet + "?puuid=p-1");
  EXPECT_EQ(call.value, 60u);
  EXPECT_EQ(call.flag, 1u);
  EXPECT_EQ(call.headers, (GoxHost::HeaderList{{"user-agent", Plugin().UserAgent()},
                                               {"Authorization", "Bearer fresh"},
                                               {"Content-type", "application/json"}}));
  EXPECT_EQ(
      call.body,
      "{\r\n    \"id\": 7,\r\n    \"inventoryJWTs\": [\r\n        \"jwt-A\",\r\n        \"jwt-B\"\r\n    "
      "],\r\n"
      "    \"items\": {\r\n        \"A\": {\r\n            \"skin\": 3\r\n        },\r\n        \"B\": [\r\n"
      "            2\r\n        ]\r\n    }\r\n}");
  EXPECT_EQ(signedRequests, std::vector<std::string>{R"(["A","B"])"});

  // Without a session, a token or a configuration the requests still go out, with empty values.
  Delete(kLoginSessionPath);
  Delete(kAccessTokenPath);
  transport_->Clear();
  transport_->RouteJson(kHttpMethodGet, kInventory + "?puuid=&signed=false&location=loc-euw", "{}");
  EXPECT_EQ(Call(kInventoryRoute, kHttpMethodGet, "/gox-loadouts/v1/inventory?inventoryTypes=").status, 0);
  ASSERT_EQ(transport_->Calls().size(), 1u);
  EXPECT_EQ(transport_->Calls()[0].url, kInventory + "?puuid=&signed=false&location=loc-euw");
  EXPECT_EQ(transport_->Calls()[0].headers, (GoxHost::HeaderList{{"user-agent", Plugin().UserAgent()}}));
  EXPECT_EQ(transport_->Calls()[0].body, "");
}

TEST_F(LoadoutsEndpointsTest, SignedTokenFailuresAreWrappedTwiceAndStopTheOperation) {
  Start();
  transport_->RouteJson(kHttpMethodPost, kItemsGetUrl, "{}");
  transport_->RouteJson(kHttpMethodPost, kItemsSetUrl, "{}");
  transport_->RouteJson(kHttpMethodPost, kSignedItemsUrl, R"(["s1"])");
  struct Operation {
    const char* route;
    std::uint32_t method;
    const char* path;
    const char* body;
  };
  const Operation operations[] = {
      {kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/A", ""},
      {kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7", R"({"A":1})"},
      {kSendItemsRoute, kHttpMethodPost, "/gox-loadouts/v1/sendItemsToDuviRidaze/7", ""},
  };
  struct Case {
    std::optional<std::string> failure;
    std::optional<std::string> answer;
    std::string cause;
  };
  const Case cases[] = {
      {"nobody signs", std::nullopt,
       "Error response for GET /gox-inventory/v1/signedInventory: nobody signs"},
      {std::nullopt, R"(["not","a","map"])",
       "Error converting response for GET /gox-inventory/v1/signedInventory: Couldn't assign value to "
       "'<result>' "
       "of type map because the input not a structure."},
  };
  for (const Operation& operation : operations) {
    for (const Case& c : cases) {
      signedFailure = c.failure;
      signedOverride = c.answer;
      host_.ClearRecords();
      const GoxHost::CallResponse response =
          Call(operation.route, operation.method, operation.path, operation.body);
      EXPECT_EQ(response.status, 500) << operation.path;
      EXPECT_EQ(ResultOf(response), kSignedFailurePrefix + c.cause) << operation.path;
      EXPECT_EQ(Errors(), std::vector<std::string>{kSignedFailurePrefix + c.cause}) << operation.path;
      EXPECT_EQ(Published(), std::vector<std::string>()) << operation.path;
    }
  }
  EXPECT_EQ(Requests(), std::vector<std::string>());
  EXPECT_EQ(host_.ServiceProxy().Calls().size(), 0u);
}

TEST_F(LoadoutsEndpointsTest, RequestsGoOutWithTheirWholeUrlBodyAndTokenRequest) {
  const std::string getBody =
      "{\r\n    \"id\": 7,\r\n    \"inventoryJWTs\": [\r\n        \"jwt-A\"\r\n    ],\r\n"
      "    \"inventoryTypes\": [\r\n        \"A\"\r\n    ]\r\n}";
  const std::string setBody =
      "{\r\n    \"id\": 7,\r\n    \"inventoryJWTs\": [\r\n        \"jwt-A\"\r\n    ],\r\n"
      "    \"items\": {\r\n        \"A\": [\r\n            1\r\n        ]\r\n    }\r\n}";
  const std::string emptySetBody =
      "{\r\n    \"id\": 7,\r\n    \"inventoryJWTs\": [],\r\n    \"items\": {}\r\n}";
  struct Case {
    const char* name;
    const char* route;
    std::uint32_t method;
    const char* path;
    const char* body;
    std::string request;  // "METHOD url"
    std::string sentBody;
    std::vector<std::string> tokenRequests;  // the types asked of the inventory plugin, as JSON
  };
  const Case cases[] = {
      {"GetItems",
       kItemsOfTypeRoute,
       kHttpMethodGet,
       "/gox-loadouts/v2/items/7/A",
       "",
       "POST " + kItemsGetUrl,
       getBody,
       {R"(["A"])"}},
      {"SetItems",
       kItemsRoute,
       kHttpMethodPost,
       "/gox-loadouts/v2/items/7",
       R"({"A":[1]})",
       "POST " + kItemsSetUrl,
       setBody,
       {R"(["A"])"}},
      {"SetItemsEmpty",
       kItemsRoute,
       kHttpMethodPost,
       "/gox-loadouts/v2/items/7",
       "{}",
       "POST " + kItemsSetUrl,
       emptySetBody,
       {"[]"}},
      {"DeleteItemsAsksForNoTokens",
       kItemsRoute,
       kHttpMethodDelete,
       "/gox-loadouts/v2/items/7?inventoryType=A",
       "",
       "DELETE " + kItemsDeleteUrl,
       "",
       {}},
  };
  Start();
  transport_->RouteJson(kHttpMethodPost, kItemsGetUrl, "{}");
  transport_->RouteJson(kHttpMethodPost, kItemsSetUrl, "{}");
  transport_->Route(kHttpMethodDelete, kItemsDeleteUrl, Answer(204, ""));
  for (const Case& c : cases) {
    ClearRecords();
    const GoxHost::CallResponse response = Call(c.route, c.method, c.path, c.body);
    EXPECT_EQ(response.status, 0) << c.name << ": " << ResultOf(response);
    EXPECT_EQ(Requests(), std::vector<std::string>{c.request}) << c.name;
    ASSERT_EQ(transport_->Calls().size(), 1u) << c.name;
    EXPECT_EQ(transport_->Calls()[0].body, c.sentBody) << c.name;
    EXPECT_EQ(signedRequests, c.tokenRequests) << c.name;
  }
}

TEST_F(LoadoutsEndpointsTest, ANullSignedItemReachesTheDraftAsAnEmptyToken) {
  Start();
  transport_->RouteJson(kHttpMethodPost, kSignedItemsUrl, R"(["s1",null,"s3"])");
  const GoxHost::CallResponse response =
      Call(kSendItemsRoute, kHttpMethodPost, "/gox-loadouts/v1/sendItemsToDuviRidaze/3");
  EXPECT_EQ(response.status, 0) << ResultOf(response);
  std::vector<std::string> payloads;
  for (const GoxHost::ServiceCall& call : host_.ServiceProxy().Calls())
    payloads.push_back(call.service + " " + call.payload);
  EXPECT_EQ(payloads,
            (std::vector<std::string>{R"(teambuilder-draft {"prefix":"loadouts","signedJWT":"s1"})",
                                      R"(teambuilder-draft {"prefix":"loadouts","signedJWT":""})",
                                      R"(teambuilder-draft {"prefix":"loadouts","signedJWT":"s3"})"}));
}

TEST_F(LoadoutsEndpointsTest, HostileValuesStayInsideTheirParameter) {
  Set(kLoginSessionPath, R"({"state":"SUCCEEDED","summonerId":1,"accountId":2,"puuid":"p?x=1#frag"})");
  Start();
  transport_->Route(kHttpMethodDelete,
                    kItemsDelete + "?inventoryType=A%26puuid%3Devil%0D%0AX%3A%20y&puuid=p%3Fx%3D1%23frag",
                    Answer(204, ""));
  transport_->RouteJson(kHttpMethodGet,
                        kInventory +
                            "?puuid=p%3Fx%3D1%23frag&inventoryTypes=A%20B&inventoryTypes=%26signed%3Dtrue&"
                            "signed=false&location=loc-euw",
                        "{}");
  const GoxHost::CallResponse deleted = Call(
      kItemsRoute, kHttpMethodDelete, "/gox-loadouts/v2/items/7?inventoryType=A%26puuid%3Devil%0D%0AX:%20y");
  EXPECT_EQ(deleted.status, 0) << ResultOf(deleted);
  EXPECT_EQ(Call(kInventoryRoute, kHttpMethodGet,
                 "/gox-loadouts/v1/inventory?inventoryTypes=%5B%22A%20B%22,%22%26signed%3Dtrue%22%5D")
                .status,
            0);
  EXPECT_EQ(
      Requests(),
      (std::vector<std::string>{
          "DELETE https://loadouts.test/loadouts/v3/items/7?inventoryType=A%26puuid%3Devil%0D%0AX%3A%20y&"
          "puuid=p%3Fx%3D1%23frag",
          "GET https://inventory.test/goxinventoryservice/v2/inventories?puuid=p%3Fx%3D1%23frag&"
          "inventoryTypes=A%20B&inventoryTypes=%26signed%3Dtrue&signed=false&location=loc-euw"}));
  // The published resource keeps the type as it was given.
  EXPECT_EQ(Published(),
            std::vector<std::string>{"Delete /gox-loadouts/v2/items/7/A&puuid=evil\r\nX: y null"});
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
