// The plugin's state follows the other plugins' resources: each row starts the plugin on the fixture's
// resources, applies a sequence of resource events and checks one member of the state, the log lines at
// error level and what the plugin published.

#include "loadouts/upstream_subscriptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;
using StateOf = LoadoutsState;

struct Step {
  const char* path;
  const char* json;  // null: Delete
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::function<std::string(const StateOf&)> read;
  std::string expected;
  std::vector<std::string> errors;
  std::vector<std::string> published;
};

std::string Session(const StateOf& s) {
  return std::string(s.sessionReady ? "ready " : "not-ready ") + std::to_string(s.accountId) + " " + s.puuid;
}
std::string Headers(const StateOf& s) {
  std::string text;
  for (const auto& [name, value] : s.defaultHeaders)
    text += name + "=" + value + ";";
  return text;
}
std::string Configuration(const StateOf& s) {
  return std::string(s.enabled ? "on " : "off ") + s.inventoryServiceUrl + " " + s.loadoutsServiceUrl;
}
std::string Location(const StateOf& s) {
  return s.serviceLocation;
}
std::string Types(const StateOf& s) {
  std::string text;
  for (const std::string& type : s.validInventoryTypes)
    text += type + ",";
  return text;
}
std::string Preferences(const StateOf& s) {
  return s.preferencesReady ? "ready" : "not-ready";
}
std::string Gameflow(const StateOf& s) {
  return std::to_string(static_cast<int>(s.lastGameflowPhase)) + (s.lastTeamBuilderManaged ? " tb" : " -");
}

constexpr const char* kReadyP2 = R"({"state":"SUCCEEDED","summonerId":1,"accountId":33,"puuid":"p-2"})";
constexpr const char* kReadyP3 = R"({"state":"SUCCEEDED","summonerId":1,"accountId":44,"puuid":"p-3"})";
constexpr const char* kEnabledTrue = "Update /gox-loadouts/v1/enabled true";
constexpr const char* kEnabledFalse = "Update /gox-loadouts/v1/enabled false";

const Case kCases[] = {
    {"InitialResourcesFillTheState", {}, Session, "ready 22 p-1", {}, {}},
    {"ReadyNeedsAnAccountId",
     {{kLoginSessionPath, nullptr},
      {kLoginSessionPath, R"({"state":"SUCCEEDED","summonerId":5,"accountId":0,"puuid":"p-0"})"}},
     Session,
     "not-ready 0 ",
     {},
     {}},
    {"ReadyNeedsASummonerId",
     {{kLoginSessionPath, nullptr},
      {kLoginSessionPath, R"({"state":"SUCCEEDED","summonerId":0,"accountId":5})"}},
     Session,
     "not-ready 0 ",
     {},
     {}},
    {"ASecondReadySessionKeepsTheFirstIds", {{kLoginSessionPath, kReadyP2}}, Session, "ready 22 p-1", {}, {}},
    {"LoggingOutKeepsTheIdsUntilTheNextReadySession",
     {{kLoginSessionPath, R"({"state":"LOGGING_OUT","summonerId":1,"accountId":33,"puuid":"p-2"})"}},
     Session,
     "not-ready 22 p-1",
     {},
     {}},
    {"ANonReadySessionBetweenLetsTheNextIdsIn",
     {{kLoginSessionPath, R"({"state":"ERROR"})"}, {kLoginSessionPath, kReadyP3}},
     Session,
     "ready 44 p-3",
     {},
     {}},
    {"SessionDeleteForgetsThePlayer", {{kLoginSessionPath, nullptr}}, Session, "not-ready 0 ", {}, {}},
    {"AnUnconvertibleSessionIsDropped",
     {{kLoginSessionPath, R"({"state":{"x":1},"puuid":"p-9"})"}},
     Session,
     "ready 22 p-1",
     {},
     {}},
    {"RepeatedTokensLeaveOneOfEachHeader",
     {{kAccessTokenPath, R"({"token":"t1"})"},
      {kAccessTokenPath, R"({"token":"t2"})"},
      {kAccessTokenPath, R"({"token":"t3"})"}},
     Headers,
     "Authorization=Bearer t3;Content-type=application/json;",
     {},
     {}},
    {"TokenDeleteEmptiesTheHeaders", {{kAccessTokenPath, nullptr}}, Headers, "", {}, {}},
    {"ATokenAfterADeleteRestoresBothHeaders",
     {{kAccessTokenPath, nullptr}, {kAccessTokenPath, R"({"token":"t4"})"}},
     Headers,
     "Authorization=Bearer t4;Content-type=application/json;",
     {},
     {}},
    {"ConfigurationMissingEnabledKeepsTheUrls",
     {{kConfigurationPath, R"({"InventoryServiceUrl":"i2","LoadoutsServiceUrl":"l2"})"}},
     Configuration,
     "off https://inventory.test https://loadouts.test",
     {kMissingEnabled},
     {kEnabledFalse}},
    {"ConfigurationThatIsNoStructureMissesAllThree",
     {{kConfigurationPath, R"(["Enabled"])"}},
     Configuration,
     "off https://inventory.test https://loadouts.test",
     {kMissingInventoryServiceUrl, kMissingLoadoutsServiceUrl, kMissingEnabled},
     {kEnabledFalse}},
    {"ConfigurationTakesUrlsAsText",
     {{kConfigurationPath, R"({"InventoryServiceUrl":7,"LoadoutsServiceUrl":{"a":1},"Enabled":"1"})"}},
     Configuration,
     "on 7 ",
     {},
     {kEnabledTrue}},
    {"ConfigurationWritesAFloatUrlWithSixDecimals",
     {{kConfigurationPath, R"({"InventoryServiceUrl":2.5,"LoadoutsServiceUrl":-0.25,"Enabled":1.0})"}},
     Configuration,
     "on 2.500000 -0.250000",
     {},
     {kEnabledTrue}},
    {"ConfigurationDeleteSwitchesOffAndForgetsTheLocation",
     {{kConfigurationPath, nullptr}},
     [](const StateOf& s) { return Configuration(s) + "|" + s.serviceLocation; },
     "off  |",
     {},
     {kEnabledFalse}},
    {"RegionServersWithoutALocationKeepTheLocation",
     {{kRegionLocalePath, R"({"region":"NA"})"}},
     Location,
     kLocation,
     {},
     {}},
    {"RegionEntryWithoutServersKeepsTheLocation",
     {{kRegionLocalePath, R"({"region":"KR"})"}},
     Location,
     kLocation,
     {},
     {}},
    {"RegionGivenAsAFloatIsLookedUpWithSixDecimals",
     {{kRegionLocalePath, R"({"region":1.5})"}},
     Location,
     "loc-float",
     {},
     {}},
    {"UnknownRegionKeepsTheLocation", {{kRegionLocalePath, R"({"region":42})"}}, Location, kLocation, {}, {}},
    {"RegionDeleteForgetsTheLocation", {{kRegionLocalePath, nullptr}}, Location, "", {}, {}},
    {"ARegionAfterAConfigurationDeleteRestoresTheLocation",
     {{kConfigurationPath, nullptr}, {kRegionLocalePath, R"({"region":"EUW"})"}},
     Location,
     kLocation,
     {},
     {kEnabledFalse}},
    {"PreferencesFollowTheirValue", {{kPreferencesReadyPath, "false"}}, Preferences, "not-ready", {}, {}},
    {"PreferencesDeleteIsNotReady",
     {{kPreferencesReadyPath, "true"}, {kPreferencesReadyPath, nullptr}},
     Preferences,
     "not-ready",
     {},
     {}},
    {"ValidTypesKeepOrderAndDuplicates",
     {{kValidInventoryTypesPath, R"(["B","A","B"])"}},
     Types,
     "B,A,B,",
     {},
     {}},
    {"ValidTypesDeleteEmptiesThem", {{kValidInventoryTypesPath, nullptr}}, Types, "", {}, {}},
    {"GameflowDeleteKeepsThePhase", {{kGameflowSessionPath, nullptr}}, Gameflow, "1 -", {}, {}},
    {"GameflowFlagOnlyUpdateIsStored",
     {{kGameflowSessionPath, R"({"phase":"Lobby","gameData":{"queue":{"isTeamBuilderManaged":true}}})"}},
     Gameflow,
     "1 tb",
     {},
     {}},
};

class SubscriptionSequenceTest : public LoadoutsFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(SubscriptionSequenceTest, StateLogAndPublications) {
  const Case& c = GetParam();
  Start();
  for (const Step& step : c.steps) {
    if (step.json == nullptr) {
      Delete(step.path);
    } else {
      Publish(step.path, step.json);
    }
  }
  EXPECT_EQ(c.read(State()), c.expected);
  EXPECT_EQ(Errors(), c.errors);
  EXPECT_EQ(Published(), c.published);
}

INSTANTIATE_TEST_SUITE_P(Sequences, SubscriptionSequenceTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

class SubscriptionTest : public LoadoutsFixture {};

TEST_F(SubscriptionTest, EnabledReadsOnlyExactTruthTexts) {
  struct Row {
    const char* enabled;
    bool on;
  };
  const Row rows[] = {{"true", true},       {"false", false},    {R"("true")", true}, {R"("1")", true},
                      {R"("TRUE")", false}, {R"("yes")", false}, {"0", false},        {"2", true},
                      {"0.5", true},        {"null", false},     {"[]", false},       {"[0]", true},
                      {"{}", false}};
  Start();
  for (const Row& row : rows) {
    Publish(kConfigurationPath, ConfigurationJson(row.enabled));
    EXPECT_EQ(State().enabled, row.on) << row.enabled;
  }
}

TEST_F(SubscriptionTest, StartupReadsEveryResourceAndPublishesTheSwitch) {
  host_.ClearRecords();
  EXPECT_EQ(host_.Load(&LoadoutsEntry), GoxHost::LoadStatus::kLoaded);
  EXPECT_TRUE(host_.Initialize());
  const StateOf& s = State();
  EXPECT_EQ(Session(s), "ready 22 p-1");
  EXPECT_EQ(Headers(s), "Authorization=Bearer tok;Content-type=application/json;");
  EXPECT_EQ(Configuration(s), "on https://inventory.test https://loadouts.test");
  EXPECT_EQ(s.serviceLocation, kLocation);
  EXPECT_EQ(Types(s), "A,B,");
  EXPECT_TRUE(s.preferencesReady);
  EXPECT_EQ(Gameflow(s), "1 -");
  EXPECT_EQ(Published(), std::vector<std::string>{kEnabledTrue});
  // The subscriptions' initial reads, in order.
  std::vector<std::string> reads;
  for (const GoxHost::CallRecord& call : host_.Calls())
    if (call.entry == "request") reads.push_back(call.summary);
  EXPECT_EQ(reads.size(), 8u) << ::testing::PrintToString(reads);  // seven resources and the region data
}

TEST_F(SubscriptionTest, ALongTokenIsSentWhole) {
  const std::string token(10000, 'k');
  Start();
  Publish(kAccessTokenPath, R"({"token":")" + token + R"("})");
  EXPECT_EQ(State().defaultHeaders.at("Authorization"), "Bearer " + token);
}

TEST_F(SubscriptionTest, RegionDataFailureIsReportedAndChangesNothing) {
  Start();
  regionDataFails = true;
  Publish(kRegionLocalePath, R"({"region":"NA"})");
  EXPECT_EQ(State().serviceLocation, kLocation);
  const std::vector<std::string> errors = Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Expression: ALE-6238ECBF"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("Description: Failed to get regionSettings"), std::string::npos) << errors[0];
}

TEST_F(SubscriptionTest, WithoutAnyResourceThePluginStartsSwitchedOff) {
  for (const char* path : {kLoginSessionPath, kAccessTokenPath, kRegionLocalePath, kPreferencesReadyPath,
                           kConfigurationPath, kValidInventoryTypesPath, kGameflowSessionPath})
    host_.DeleteResource(path);
  Start();
  const StateOf& s = State();
  EXPECT_EQ(Session(s), "not-ready 0 ");
  EXPECT_EQ(Headers(s), "");
  EXPECT_EQ(Configuration(s), "off  ");
  EXPECT_EQ(Gameflow(s), "0 -");
  const GoxHost::CallResponse response =
      Call("/gox-loadouts/v1/inventory", kHttpMethodGet, "/gox-loadouts/v1/inventory?inventoryTypes=");
  EXPECT_EQ(response.status, 503);
  EXPECT_EQ(response.error.value_or(""), "Loadouts not enabled");
}

// Each subscription reads its resource and hands the value to its callback before the next subscription
// is made: at each read the state already holds what the earlier resources said, and nothing of the
// later ones.
TEST_F(SubscriptionTest, SevenSubscriptionsInOrderEachFilledBeforeTheNext) {
  struct Resource {
    const char* path;
    std::string json;
  };
  const Resource resources[] = {
      {kLoginSessionPath, R"({"state":"SUCCEEDED","summonerId":11,"accountId":22,"puuid":"p-1"})"},
      {kAccessTokenPath, R"({"token":"tok"})"},
      {kRegionLocalePath, R"({"region":"EUW"})"},
      {kPreferencesReadyPath, "true"},
      {kConfigurationPath, ConfigurationJson()},
      {kValidInventoryTypesPath, R"(["A"])"},
      {kGameflowSessionPath, GameflowJson("Lobby", true)},
  };
  // What the state says of each resource, in subscription order: 1 when it holds that resource's value.
  const auto filled = [](const StateOf& s) {
    std::string marks;
    marks += s.sessionReady ? '1' : '0';
    marks += s.defaultHeaders.empty() ? '0' : '1';
    marks += s.serviceLocation.empty() ? '0' : '1';
    marks += s.preferencesReady ? '1' : '0';
    marks += s.enabled ? '1' : '0';
    marks += s.validInventoryTypes.empty() ? '0' : '1';
    marks += s.lastTeamBuilderManaged ? '1' : '0';
    return marks;
  };
  std::vector<std::string> reads;
  // Providers answer before the resource tree does.
  for (const Resource& resource : resources) {
    host_.AddProvider({resource.path, kHttpMethodGet}, [&, resource](const GoxHost::ProviderRequest&) {
      reads.push_back(std::string(resource.path) + " " + filled(State()));
      return GoxHost::ProviderAnswer::Ok(GoxHost::JsonValue::Parse(resource.json).value());
    });
  }
  ASSERT_EQ(host_.Load(&LoadoutsEntry), GoxHost::LoadStatus::kLoaded);
  host_.ClearRecords();
  ASSERT_TRUE(host_.Initialize());
  EXPECT_EQ(
      reads,
      (std::vector<std::string>{
          std::string(kLoginSessionPath) + " 0000000", std::string(kAccessTokenPath) + " 1000000",
          std::string(kRegionLocalePath) + " 1100000", std::string(kPreferencesReadyPath) + " 1110000",
          std::string(kConfigurationPath) + " 1111000", std::string(kValidInventoryTypesPath) + " 1111100",
          std::string(kGameflowSessionPath) + " 1111110"}));
  EXPECT_EQ(filled(State()), "1111111");
  // Each listener is registered before its resource is read.
  std::vector<std::string> order;
  for (const GoxHost::CallRecord& call : host_.Calls())
    if (call.entry == "registerEvent" || call.entry == "request") order.push_back(call.entry);
  std::vector<std::string> expected;
  for (int i = 0; i < 7; ++i) {
    expected.push_back("registerEvent");
    expected.push_back("request");
    if (i == 2) expected.push_back("request");  // the region data
  }
  // The bridge's own service-proxy listeners come first.
  ASSERT_GE(order.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(order.end() - static_cast<std::ptrdiff_t>(expected.size()), order.end()),
            expected);
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
