// Entering champion select puts loadout 1 into the game once per entry, by the queue's kind; storing items
// during champion select puts them in again; events that arrive while an injection awaits the service
// proxy are neither lost nor overwritten.

#include "loadouts/champ_select_injection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loadouts/loadouts_endpoints.h"
#include "loadouts/upstream_subscriptions.h"
#include "tests/support/loadouts_fixture.h"
#include "tests/support/recording_log_target.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;

const std::string kCustomization = std::string(kLoadoutsBase) + "/loadouts/v3/setGameCustomization/";
const std::string kSignedItems = std::string(kLoadoutsBase) + "/loadouts/v3/signedItems/get";
const std::string kItemsSet = std::string(kLoadoutsBase) + "/loadouts/v3/items";
const std::string kCustomizationUrl = kCustomization + "?location=loc-euw&puuid=p-1&accountId=22";
const std::string kSignedItemsUrl = kSignedItems + "?puuid=p-1";
const std::string kItemsSetUrl = kItemsSet + "?puuid=p-1";
constexpr const char* kSuccessLine = "Loadout 1 injected into DuviRidaze successfully";

class ChampSelectInjectionTest : public LoadoutsFixture {
 protected:
  ChampSelectInjectionTest() {
    transport_->RouteJson(kHttpMethodPost, kCustomizationUrl, "{}");
    transport_->RouteJson(kHttpMethodPost, kSignedItemsUrl, R"(["s1","s2","s3"])");
    transport_->RouteJson(kHttpMethodPost, kItemsSetUrl, "{}");
  }

  void Phase(const char* phase, bool teamBuilderManaged = false) {
    Publish(kGameflowSessionPath, GameflowJson(phase, teamBuilderManaged));
  }

  // The signed items the team-builder service received, in order.
  [[nodiscard]] std::vector<std::string> SentToDraft() const {
    std::vector<std::string> sent;
    for (const GoxHost::ServiceCall& call : host_.ServiceProxy().Calls())
      sent.push_back(call.service + "." + call.method + " " + call.payload);
    return sent;
  }

  [[nodiscard]] std::size_t Injections() const {
    std::size_t count = 0;
    for (const std::string& request : Requests())
      count += request.starts_with("POST " + kCustomization) || request.starts_with("POST " + kSignedItems);
    return count;
  }

  [[nodiscard]] std::string Trigger() const {
    return std::to_string(static_cast<int>(State().lastGameflowPhase)) +
           (State().lastTeamBuilderManaged ? " tb" : " -");
  }
};

TEST_F(ChampSelectInjectionTest, OneInjectionPerEntryIntoChampionSelect) {
  struct Event {
    const char* phase;  // null: Delete
    bool teamBuilderManaged;
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::size_t injections;
    std::string trigger;
  };
  const Case cases[] = {
      {"stay", {{"Lobby", false}, {"ChampSelect", false}, {"ChampSelect", false}}, 1, "5 -"},
      {"re-enter",
       {{"Lobby", false}, {"ChampSelect", false}, {"Lobby", false}, {"ChampSelect", false}},
       2,
       "5 -"},
      {"delete does not re-arm",
       {{"ChampSelect", false}, {nullptr, false}, {"ChampSelect", false}},
       1,
       "5 -"},
      {"flag only", {{"ChampSelect", false}, {"ChampSelect", true}}, 1, "5 tb"},
      {"other phases", {{"Matchmaking", true}, {"ReadyCheck", true}, {"InProgress", false}}, 0, "8 -"},
  };
  Start();
  for (const Case& c : cases) {
    Publish(kGameflowSessionPath, GameflowJson("None", false));
    transport_->ClearCalls();
    host_.ClearRecords();
    for (const Event& event : c.events) {
      if (event.phase == nullptr) {
        Delete(kGameflowSessionPath);
      } else {
        Phase(event.phase, event.teamBuilderManaged);
      }
    }
    EXPECT_EQ(Injections(), c.injections) << c.name;
    EXPECT_EQ(Trigger(), c.trigger) << c.name;
    EXPECT_EQ(OkayLines(), std::vector<std::string>(c.injections, kSuccessLine)) << c.name;
    EXPECT_EQ(Errors(), std::vector<std::string>()) << c.name;
  }
}

TEST_F(ChampSelectInjectionTest, StandardQueueAsksTheServiceToSetTheCustomization) {
  Start();
  Phase("ChampSelect");
  ASSERT_EQ(transport_->Calls().size(), 1u);
  const GoxHost::ExternalCall& call = transport_->Calls()[0];
  EXPECT_EQ(call.url, kCustomization + "?location=loc-euw&puuid=p-1&accountId=22");
  EXPECT_EQ(call.body,
            "{\r\n    \"id\": 1,\r\n    \"inventoryJWTs\": [\r\n        \"jwt-A\",\r\n        \"jwt-B\"\r\n  "
            "  ],\r\n"
            "    \"inventoryTypes\": [\r\n        \"A\",\r\n        \"B\"\r\n    ]\r\n}");
  EXPECT_EQ(signedRequests, std::vector<std::string>{R"(["A","B"])"});
  EXPECT_EQ(SentToDraft(), std::vector<std::string>());
}

TEST_F(ChampSelectInjectionTest, TeamBuilderQueueHandsEachSignedItemToTheDraft) {
  Start();
  Phase("ChampSelect", true);
  EXPECT_EQ(Requests(), std::vector<std::string>{"POST " + kSignedItems + "?puuid=p-1"});
  EXPECT_EQ(SentToDraft(),
            (std::vector<std::string>{
                R"(teambuilder-draft.setGameCustomizationV1 {"prefix":"loadouts","signedJWT":"s1"})",
                R"(teambuilder-draft.setGameCustomizationV1 {"prefix":"loadouts","signedJWT":"s2"})",
                R"(teambuilder-draft.setGameCustomizationV1 {"prefix":"loadouts","signedJWT":"s3"})"}));
  EXPECT_EQ(OkayLines(), std::vector<std::string>{kSuccessLine});
}

TEST_F(ChampSelectInjectionTest, AFailingDraftCallStopsTheRestAndIsReportedOnce) {
  GoxHost::ServiceAnswer refused;
  refused.status = "500";
  refused.error = "draft refused";
  serviceAnswers = {GoxHost::ServiceAnswer{}, refused};
  serviceAnswers[0].payload = "{}";
  Start();
  Phase("ChampSelect", true);
  EXPECT_EQ(SentToDraft().size(), 2u);
  const std::string cause = "GameCustomization: could not set requested: draft refused";
  EXPECT_EQ(Errors(),
            (std::vector<std::string>{
                cause, "Failed to inject loadout into DuviRidaze on entering Champ Select: " + cause}));
  EXPECT_EQ(OkayLines(), std::vector<std::string>());
  // The failure does not re-arm the trigger.
  Phase("ChampSelect", true);
  EXPECT_EQ(SentToDraft().size(), 2u);
}

TEST_F(ChampSelectInjectionTest, FailuresOfEitherWayAreReportedByTheTrigger) {
  const std::string prefix = "Failed to inject loadout into DuviRidaze on entering Champ Select: ";
  struct Case {
    const char* name;
    bool teamBuilderManaged;
    std::string url;
    std::optional<GoxHost::ExternalResult> answer;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"customization 500",
       false,
       kCustomizationUrl,
       GoxHost::ExternalResult{0, 500, {}, "ignored body"},
       {"Loadouts service failed to set the GameCustomizationObject: ",
        prefix + "Loadouts service failed to set the GameCustomizationObject: "}},
      {"customization unreachable",
       false,
       kCustomizationUrl,
       std::nullopt,
       {"Loadouts service failed to set the GameCustomizationObject: no route",
        prefix + "Loadouts service failed to set the GameCustomizationObject: no route"}},
      {"signed items 404",
       true,
       kSignedItemsUrl,
       GoxHost::ExternalResult{0, 404, {}, "no loadout"},
       {prefix + "Error fetching signed loadout from service: no loadout"}},
      {"signed items not a list",
       true,
       kSignedItemsUrl,
       GoxHost::ExternalResult{0, 200, {}, "{}"},
       {"Couldn't deserialize items response: {}", prefix + "Couldn't deserialize items response: {}"}},
  };
  Start();
  for (const Case& c : cases) {
    transport_->Clear();
    if (c.answer) transport_->Route(kHttpMethodPost, c.url, *c.answer);
    Phase("Lobby");
    host_.ClearRecords();
    Phase("ChampSelect", c.teamBuilderManaged);
    EXPECT_EQ(Errors(), c.errors) << c.name;
    EXPECT_EQ(SentToDraft(), std::vector<std::string>()) << c.name;
  }
}

TEST_F(ChampSelectInjectionTest, NoTokensMeansNothingToSetAndStillSuccess) {
  signedOverride = "{}";
  Start();
  Phase("ChampSelect");
  EXPECT_EQ(Requests(), std::vector<std::string>());
  EXPECT_EQ(OkayLines(), std::vector<std::string>{kSuccessLine});
}

TEST_F(ChampSelectInjectionTest, ChampionSelectAtStartInjectsDuringInitialize) {
  Set(kGameflowSessionPath, GameflowJson("ChampSelect", false));
  ASSERT_EQ(host_.Load(&LoadoutsEntry), GoxHost::LoadStatus::kLoaded);
  ASSERT_TRUE(host_.Initialize());
  EXPECT_EQ(Injections(), 1u);
  EXPECT_EQ(OkayLines(), std::vector<std::string>{kSuccessLine});
  EXPECT_EQ(Trigger(), "5 -");
}

TEST_F(ChampSelectInjectionTest, APhaseThatArrivesDuringTheAwaitIsKept) {
  Start();
  bool published = false;
  host_.AddYieldHook([&] {
    if (published) return;
    published = true;
    host_.PublishResource(kGameflowSessionPath,
                          GoxHost::JsonValue::Parse(GameflowJson("Lobby", false)).value());
  });
  Phase("ChampSelect", true);
  EXPECT_TRUE(published);
  EXPECT_EQ(Trigger(), "1 -");  // the newer Lobby, not the ChampSelect whose injection was awaiting
  EXPECT_EQ(SentToDraft().size(), 3u);
  // So the next entry injects again.
  host_.ClearRecords();
  Phase("ChampSelect");
  EXPECT_EQ(OkayLines(), std::vector<std::string>{kSuccessLine});
}

TEST_F(ChampSelectInjectionTest, ChampionSelectRepeatedDuringTheAwaitStartsNoSecondInjection) {
  Start();
  int yields = 0;
  host_.AddYieldHook([&] {
    if (++yields != 1) return;
    host_.PublishResource(kGameflowSessionPath,
                          GoxHost::JsonValue::Parse(GameflowJson("ChampSelect", true)).value());
  });
  Phase("ChampSelect", true);
  EXPECT_EQ(Requests().size(), 1u);
  EXPECT_EQ(SentToDraft().size(), 3u);
  EXPECT_EQ(OkayLines(), std::vector<std::string>{kSuccessLine});
  EXPECT_EQ(Trigger(), "5 tb");
}

TEST_F(ChampSelectInjectionTest, StoringItemsDuringChampionSelectInjectsThatLoadout) {
  Start();
  // Outside champion select nothing follows the store.
  EXPECT_EQ(Call(kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/4", R"({"A":1})").status, 0);
  EXPECT_EQ(Requests(), std::vector<std::string>{"POST " + kItemsSet + "?puuid=p-1"});

  Phase("ChampSelect", false);
  transport_->ClearCalls();
  EXPECT_EQ(Call(kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/4", R"({"A":1})").status, 0);
  ASSERT_EQ(transport_->Calls().size(), 2u);
  EXPECT_NE(transport_->Calls()[1].body.find("\"id\": 4"), std::string::npos) << transport_->Calls()[1].body;
  EXPECT_TRUE(transport_->Calls()[1].url.starts_with(kCustomization));

  // A failing re-injection leaves the store a success, with only the operation's own line.
  Phase("ChampSelect", true);
  transport_->Route(kHttpMethodPost, kSignedItemsUrl, GoxHost::ExternalResult{0, 200, {}, "[1"});
  host_.ClearRecords();
  const GoxHost::CallResponse stored =
      Call(kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/4", R"({"A":1})");
  EXPECT_EQ(stored.status, 0);
  EXPECT_EQ(Errors(), std::vector<std::string>{"Couldn't deserialize items response: [1"});
  EXPECT_EQ(Published(), std::vector<std::string>{"Update /gox-loadouts/v2/items/4/A 1"});
}

TEST_F(ChampSelectInjectionTest, TheEndpointSendsWhateverThePhase) {
  Start();
  const GoxHost::CallResponse response =
      Call(kSendItemsRoute, kHttpMethodPost, "/gox-loadouts/v1/sendItemsToDuviRidaze/9");
  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(SentToDraft().size(), 3u);
  ASSERT_EQ(transport_->Calls().size(), 1u);
  EXPECT_NE(transport_->Calls()[0].body.find("\"id\": 9"), std::string::npos);
  EXPECT_EQ(Trigger(), "1 -");
}

TEST_F(ChampSelectInjectionTest, SignedTokenFailureOfEitherWayIsWrappedByTheTriggersLine) {
  const std::string cause =
      "Error fetching signed inventories: Unable to obtain signed inventory from gox-inventory plugin: Error "
      "response for GET /gox-inventory/v1/signedInventory: nobody signs";
  signedFailure = "nobody signs";
  Start();
  for (const bool teamBuilderManaged : {false, true}) {
    Phase("Lobby");
    host_.ClearRecords();
    transport_->ClearCalls();
    Phase("ChampSelect", teamBuilderManaged);
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{
                  cause, "Failed to inject loadout into DuviRidaze on entering Champ Select: " + cause}))
        << teamBuilderManaged;
    EXPECT_EQ(OkayLines(), std::vector<std::string>()) << teamBuilderManaged;
    EXPECT_EQ(Requests(), std::vector<std::string>()) << teamBuilderManaged;
  }
  EXPECT_EQ(SentToDraft(), std::vector<std::string>());
}

// The host sees only level and text; the categories are what the module's logger hands its targets.
TEST_F(ChampSelectInjectionTest, FailureLinesCarryCategoryOneAndTheSuccessLineCategoryTwo) {
  Start();
  RecordingLogTarget recorder;
  recorder.Attach();
  Phase("ChampSelect");  // succeeds
  Phase("Lobby");
  transport_->Clear();  // every remote request now fails
  Phase("ChampSelect");
  const auto lines = recorder.Entries();
  std::vector<std::string> seen;
  for (const RecordingLogTarget::Entry& entry : lines)
    seen.push_back(std::to_string(entry.level) + " " + std::to_string(entry.categories) + " " +
                   entry.message);
  const std::string cause = "Loadouts service failed to set the GameCustomizationObject: no route";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      std::string("0 2 ") + kSuccessLine, "2 1 " + cause,
                      "2 1 Failed to inject loadout into DuviRidaze on entering Champ Select: " + cause}));
  // And the host got the same lines at the same levels.
  std::vector<std::string> host;
  for (const GoxHost::LogLine& line : host_.LogLines())
    host.push_back(std::to_string(line.level) + " " + line.message);
  ASSERT_EQ(host.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(host[i], std::to_string(lines[i].level) + " " + lines[i].message);
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
