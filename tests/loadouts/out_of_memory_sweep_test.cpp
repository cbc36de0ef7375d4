// Every heap allocation of a call fails in turn. Each scenario runs once to count its allocations K; then
// for N = 1 ... K it runs with the Nth allocation failing, and again with every allocation from the Nth
// on failing. Every run must end in success with the reference outcome or in a failure that has a status
// and a message; the module heap must be back where it was once the run is over; and the same call
// without injection must then give the reference outcome again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "loadouts/loadouts_endpoints.h"
#include "loadouts/upstream_subscriptions.h"
#include "sdk/binding/module_heap.h"
#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;

const std::string kItemsGetUrl = std::string(kLoadoutsBase) + "/loadouts/v3/items/get?puuid=p-1";
const std::string kItemsSetUrl = std::string(kLoadoutsBase) + "/loadouts/v3/items?puuid=p-1";
const std::string kItemsDeleteUrl =
    std::string(kLoadoutsBase) + "/loadouts/v3/items/7?inventoryType=A&puuid=p-1";
const std::string kSignedItemsUrl = std::string(kLoadoutsBase) + "/loadouts/v3/signedItems/get?puuid=p-1";
const std::string kCustomizationUrl =
    std::string(kLoadoutsBase) + "/loadouts/v3/setGameCustomization/?location=loc-euw&puuid=p-1&accountId=22";
const std::string kInventoryUrl =
    std::string(kInventoryBase) +
    "/goxinventoryservice/v2/"
    "inventories?puuid=p-1&inventoryTypes=A&inventoryTypes=B&signed=false&location=loc-euw";
constexpr const char* kInjectionFailurePrefix =
    "Failed to inject loadout into DuviRidaze on entering Champ Select: ";

// What one run of a scenario came to.
struct Outcome {
  bool failed = false;
  std::int32_t status = 0;  // of a failure; 0 for one without a status, which the host answers as 400
  std::string text;         // the answer of a success, the message of a failure
  std::vector<std::string> published;  // the resource events sent meanwhile
};

// A failure the host can pass on as one: no status or an error status, and a message.
void ExpectSoundFailure(const Outcome& outcome, const std::string& where) {
  EXPECT_TRUE(outcome.status == 0 || outcome.status >= 400) << where << ": " << outcome.status;
  EXPECT_FALSE(outcome.text.empty()) << where;
}

enum class Mode { kNth, kFromNth };

struct Tally {
  std::size_t succeeded = 0;
  std::size_t failed = 0;
  std::size_t unreached = 0;  // the switch did not fire: the run allocated less than the reference run
};

struct Scenario {
  std::string name;
  std::function<void()> prepare;  // not injected, before every run
  std::function<Outcome()> run;   // the injected part
  std::function<void()> finish;   // not injected, after every run
};

std::string StateText(const LoadoutsState& state) {
  std::string text = std::string(state.enabled ? "on" : "off") + " types=";
  for (const std::string& type : state.validInventoryTypes)
    text += type + ",";
  text += " inv=" + state.inventoryServiceUrl + " loa=" + state.loadoutsServiceUrl + " headers=";
  for (const auto& [name, value] : state.defaultHeaders)
    text += name + ":" + value + ",";
  text += std::string(" prefs=") + (state.preferencesReady ? "1" : "0") + " loc=" + state.serviceLocation +
          " account=" + std::to_string(state.accountId) + " puuid=" + state.puuid +
          " ready=" + (state.sessionReady ? "1" : "0") +
          " phase=" + std::to_string(static_cast<int>(state.lastGameflowPhase)) +
          " tb=" + (state.lastTeamBuilderManaged ? "1" : "0");
  return text;
}

Outcome OutcomeOf(const GoxHost::CallResponse& response, std::vector<std::string> published) {
  if (response.error) return Outcome{true, response.status, *response.error, std::move(published)};
  return Outcome{false, 0, std::to_string(response.status) + " " + response.body.Text(),
                 std::move(published)};
}

// Events a success sent beside its answer: each one as the reference run sent it. An event whose value
// could not be converted is left out; one sent with other data is a fault.
void ExpectPublishedAsInReference(const Outcome& outcome, const Outcome& reference,
                                  const std::string& where) {
  for (const std::string& event : outcome.published)
    EXPECT_NE(std::find(reference.published.begin(), reference.published.end(), event),
              reference.published.end())
        << where << ": published " << event;
}

class OutOfMemorySweepTest : public LoadoutsFixture {
 protected:
  OutOfMemorySweepTest() {
    transport_->RouteJson(kHttpMethodPost, kItemsGetUrl, R"({"A":{"skin":3},"B":[1,2]})");
    transport_->RouteJson(kHttpMethodPost, kItemsSetUrl, "{}");
    transport_->Route(kHttpMethodDelete, kItemsDeleteUrl, GoxHost::ExternalResult{0, 204, {}, ""});
    transport_->RouteJson(kHttpMethodPost, kSignedItemsUrl, R"(["s1","s2",null])");
    transport_->RouteJson(kHttpMethodPost, kCustomizationUrl, "{}");
    transport_->RouteJson(kHttpMethodGet, kInventoryUrl,
                          R"({"data":{"puuid":"p-1","items":{"A":[{"itemId":1,"inventoryType":"A"},null],)"
                          R"("B":[{"itemId":2,"inventoryType":"B","f2p":true}]},"itemsJwt":null}})");
  }

  // An endpoint call as a scenario.
  Scenario Endpoint(std::string name, const char* route, std::uint32_t method, std::string path,
                    std::string body = {}) {
    return Scenario{std::move(name), [] {},
                    [this, route, method, path = std::move(path), body = std::move(body)] {
                      host_.ClearRecords();
                      GoxHost::CallResponse response = Call(route, method, path, body);
                      return OutcomeOf(response, Published());
                    },
                    [] {}};
  }

  // A resource event as a scenario: the resource is first set to `before` without injection (removed for
  // an empty text, so that `after` arrives as a Create), then changed to `after` (removed for an empty
  // text). A callback that could not run leaves the state as it was: that is the event's failure.
  Scenario Event(std::string name, std::string path, std::string before, std::string after) {
    return Scenario{std::move(name),
                    [this, path, before] {
                      if (!before.empty()) {
                        Publish(path, before);
                      } else if (host_.Resource(path) != nullptr) {
                        Delete(path);
                      }
                    },
                    [this, path, after] {
                      const std::string unchanged = StateText(State());
                      if (after.empty()) {
                        Delete(path);
                      } else {
                        Publish(path, after);
                      }
                      const std::string now = StateText(State());
                      if (now == unchanged) return Outcome{true, 500, "event dropped", {}};
                      return Outcome{false, 0, now, {}};
                    },
                    [] {}};
  }

  // Entering champion select from the lobby, for one kind of queue.
  Scenario Injection(std::string name, bool teamBuilderManaged) {
    return Scenario{
        std::move(name), [this] { Publish(kGameflowSessionPath, GameflowJson("Lobby", false)); },
        [this, teamBuilderManaged] {
          host_.ClearRecords();
          const std::size_t sentBefore = host_.ServiceProxy().Calls().size();
          Publish(kGameflowSessionPath, GameflowJson("ChampSelect", teamBuilderManaged));
          const std::vector<std::string> errors = Errors();
          const std::vector<std::string> okay = OkayLines();
          if (errors.empty() && okay.empty() && State().lastGameflowPhase != Api::GameflowPhase::ChampSelect)
            return Outcome{true, 500, "event dropped", {}};
          if (!errors.empty()) {
            const std::string& last = errors.back();
            const bool wrapped = last.starts_with(kInjectionFailurePrefix) &&
                                 last.size() > std::string(kInjectionFailurePrefix).size();
            // A failure the trigger did not report as its own, or beside a success line, is no sound one.
            return Outcome{true, wrapped && okay.empty() ? 500 : 200, last, {}};
          }
          std::string text;
          for (const std::string& line : okay)
            text += line + "\n";
          const auto& calls = host_.ServiceProxy().Calls();
          for (std::size_t i = sentBefore; i < calls.size(); ++i)
            text += calls[i].service + "." + calls[i].method + " " + calls[i].payload + "\n";
          return Outcome{false, 0, text + StateText(State()), {}};
        },
        [] {}};
  }

  // Runs `scenario` once without injection, then for every N in both modes; prints K and the tallies.
  void Sweep(const Scenario& scenario) {
    SCOPED_TRACE(scenario.name);
    const std::uint64_t baseline = HeapBytesInUse();
    scenario.prepare();
    const std::uint64_t countBefore = ReadMemoryStats().allocationCount;
    const Outcome reference = scenario.run();
    const std::uint64_t k = ReadMemoryStats().allocationCount - countBefore;
    scenario.finish();
    ASSERT_FALSE(reference.failed) << reference.text;
    ASSERT_EQ(HeapBytesInUse(), baseline) << "the reference run leaks";
    if (k == 0) {
      // Nothing of it lives on the module heap in this binary (see the handshake's sweep).
      std::printf("[ sweep    ] %-34s K=0     nothing to fail\n", scenario.name.c_str());
      return;
    }

    Tally tallies[2];
    for (const Mode mode : {Mode::kNth, Mode::kFromNth}) {
      Tally& tally = tallies[mode == Mode::kNth ? 0 : 1];
      for (std::uint64_t n = 1; n <= k; ++n) {
        const std::string where = std::string(mode == Mode::kNth ? "allocation " : "allocations from ") +
                                  std::to_string(n) + " of " + std::to_string(k);
        const std::uint64_t before = HeapBytesInUse();
        scenario.prepare();
        if (mode == Mode::kNth) {
          FailNthHeapAllocation(n);
        } else {
          FailHeapAllocationsFrom(n);
        }
        const Outcome outcome = scenario.run();
        const bool fired = (mode == Mode::kNth ? FailNthHeapAllocation(0) : FailHeapAllocationsFrom(0)) == 0;
        scenario.finish();
        if (!fired) {
          ++tally.unreached;
        } else if (outcome.failed) {
          ++tally.failed;
          ExpectSoundFailure(outcome, where + ": " + outcome.text + " " + ::testing::PrintToString(Errors()));
          EXPECT_EQ(outcome.published, std::vector<std::string>()) << where << ": a failure that published";
        } else {
          ++tally.succeeded;
          EXPECT_EQ(outcome.text, reference.text) << where << ": a success with other data";
          ExpectPublishedAsInReference(outcome, reference, where);
        }
        EXPECT_EQ(HeapBytesInUse(), before) << where << ": leaked";
        EXPECT_EQ(host_.Problems(), std::vector<std::string>()) << where;
        EXPECT_EQ(host_.OutstandingResponses(), 0u) << where;

        // Nothing is left broken: the same call without injection answers as the reference run did.
        scenario.prepare();
        const Outcome again = scenario.run();
        scenario.finish();
        EXPECT_FALSE(again.failed) << where << ", then without injection: " << again.text;
        EXPECT_EQ(again.text, reference.text) << where << ", then without injection";
        host_.ClearRecords();
        if (HasFailure()) return;  // the first broken run says enough
      }
    }
    std::printf(
        "[ sweep    ] %-34s K=%-5llu nth: %zu ok, %zu failed, %zu unreached; from nth: %zu ok, "
        "%zu failed, %zu unreached\n",
        scenario.name.c_str(), static_cast<unsigned long long>(k), tallies[0].succeeded, tallies[0].failed,
        tallies[0].unreached, tallies[1].succeeded, tallies[1].failed, tallies[1].unreached);
  }
};

TEST_F(OutOfMemorySweepTest, EndpointsNeverAnswerPartialDataNorLeak) {
  Start();
  const Scenario scenarios[] = {
      Endpoint("GetItems", kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/B"),
      Endpoint("GetItems type absent", kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/Z"),
      Endpoint("SetItems", kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7",
               R"({"A":{"skin":3},"B":[1,{"x":"y"}]})"),
      Endpoint("DeleteItems", kItemsRoute, kHttpMethodDelete, "/gox-loadouts/v2/items/7?inventoryType=A"),
      Endpoint("SendItemsToDuviRidaze", kSendItemsRoute, kHttpMethodPost,
               "/gox-loadouts/v1/sendItemsToDuviRidaze/1"),
      Endpoint("GetInventory", kInventoryRoute, kHttpMethodGet,
               "/gox-loadouts/v1/inventory?inventoryTypes.0=A&inventoryTypes.1=B"),
  };
  for (const Scenario& scenario : scenarios)
    Sweep(scenario);
}

TEST_F(OutOfMemorySweepTest, EndpointFailurePathsStayFailures) {
  Start();
  transport_->Route(kHttpMethodPost, kItemsGetUrl, GoxHost::ExternalResult{0, 200, {}, R"([1,"two"])"});
  transport_->Route(kHttpMethodPost, kItemsSetUrl, GoxHost::ExternalResult{0, 403, {}, "not owned"});
  transport_->Route(kHttpMethodDelete, kItemsDeleteUrl, GoxHost::ExternalResult{0, 404, {}, "no loadout"});
  transport_->Route(kHttpMethodPost, kSignedItemsUrl, GoxHost::ExternalResult{0, 200, {}, R"({"a":1})"});
  transport_->Route(kHttpMethodGet, kInventoryUrl, GoxHost::ExternalResult{0, 200, {}, R"({"data":[]})"});
  const Scenario scenarios[] = {
      Endpoint("GetItems answer not a map", kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/A"),
      Endpoint("SetItems refused", kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7", R"({"A":[1]})"),
      Endpoint("SetItems body not an object", kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7",
               "[1]"),
      Endpoint("DeleteItems refused", kItemsRoute, kHttpMethodDelete,
               "/gox-loadouts/v2/items/7?inventoryType=A"),
      Endpoint("SendItems answer not a list", kSendItemsRoute, kHttpMethodPost,
               "/gox-loadouts/v1/sendItemsToDuviRidaze/1"),
      Endpoint("GetInventory answer wrong shape", kInventoryRoute, kHttpMethodGet,
               "/gox-loadouts/v1/inventory?inventoryTypes.0=A&inventoryTypes.1=B"),
      Endpoint("GetItems bad id", kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/-1/A"),
  };
  signedFailure = std::nullopt;
  for (const Scenario& scenario : scenarios) {
    // A failure path's reference run fails too: the sweep then checks that it never turns into a success.
    SCOPED_TRACE(scenario.name);
    const std::uint64_t baseline = HeapBytesInUse();
    const std::uint64_t countBefore = ReadMemoryStats().allocationCount;
    const Outcome reference = scenario.run();
    const std::uint64_t k = ReadMemoryStats().allocationCount - countBefore;
    ASSERT_TRUE(reference.failed) << reference.text;
    ASSERT_EQ(HeapBytesInUse(), baseline);
    std::size_t same = 0;
    std::size_t other = 0;
    for (const Mode mode : {Mode::kNth, Mode::kFromNth}) {
      for (std::uint64_t n = 1; n <= k; ++n) {
        const std::uint64_t before = HeapBytesInUse();
        if (mode == Mode::kNth) {
          FailNthHeapAllocation(n);
        } else {
          FailHeapAllocationsFrom(n);
        }
        const Outcome outcome = scenario.run();
        FailNthHeapAllocation(0);
        EXPECT_TRUE(outcome.failed) << n << ": a failure answered as success: " << outcome.text;
        ExpectSoundFailure(outcome, std::to_string(n) + " " + ::testing::PrintToString(Errors()));
        EXPECT_EQ(outcome.published, std::vector<std::string>()) << n;
        (outcome.text == reference.text ? same : other) += 1;
        EXPECT_EQ(HeapBytesInUse(), before) << n << ": leaked";
        const Outcome again = scenario.run();
        EXPECT_EQ(again.text, reference.text) << n << ", then without injection";
        host_.ClearRecords();
        if (HasFailure()) return;
      }
    }
    std::printf("[ sweep    ] %-34s K=%-5llu %zu runs with its own failure, %zu with another\n",
                scenario.name.c_str(), static_cast<unsigned long long>(k), same, other);
  }
}

TEST_F(OutOfMemorySweepTest, ResourceEventsApplyWholeOrNotAtAll) {
  Start();
  const std::string session =
      R"({"state":"SUCCEEDED","summonerId":11,"accountId":22,"idToken":"id","puuid":"p-1","gasToken":{"a":1}})";
  const Scenario scenarios[] = {
      Event("login session Create", kLoginSessionPath, "", session),
      Event("login session Update", kLoginSessionPath, R"({"state":"IN_PROGRESS"})", session),
      Event("login session Delete", kLoginSessionPath, session, ""),
      Event("access token Update", kAccessTokenPath, R"({"token":"old"})",
            R"({"token":"new","scopes":["a"]})"),
      Event("access token Delete", kAccessTokenPath, R"({"token":"old"})", ""),
      Event("region Create", kRegionLocalePath, "", R"({"region":"EUW","locale":"en_GB"})"),
      Event("region Delete", kRegionLocalePath, R"({"region":"EUW"})", ""),
      Event("preferences Update", kPreferencesReadyPath, "false", "true"),
      Event("configuration Update", kConfigurationPath, ConfigurationJson("false"),
            ConfigurationJson("true")),
      Event("configuration Delete", kConfigurationPath, ConfigurationJson("true"), ""),
      Event("inventory types Update", kValidInventoryTypesPath, R"(["A"])", R"(["A","B","C"])"),
      Event("inventory types Delete", kValidInventoryTypesPath, R"(["A"])", ""),
      Event("game flow Update", kGameflowSessionPath, GameflowJson("Lobby", false),
            GameflowJson("Matchmaking", true)),
  };
  for (const Scenario& scenario : scenarios)
    Sweep(scenario);
}

TEST_F(OutOfMemorySweepTest, ChampionSelectInjectionReportsEveryFailure) {
  Start();
  Sweep(Injection("champion select, team builder", true));
  Sweep(Injection("champion select, standard queue", false));
}

TEST_F(OutOfMemorySweepTest, HandshakeAndInitializeFailCleanly) {
  const auto description = [this] {
    std::string text;
    for (const GoxHost::EndpointInfo& endpoint : host_.Description().endpoints)
      text += endpoint.path + " " + endpoint.name + " " + std::to_string(endpoint.arguments.size()) + "\n";
    text += std::to_string(host_.Description().types.size()) + " types, " +
            std::to_string(host_.Description().events.size()) + " events";
    return text;
  };
  // The shipped module routes its operator new to the module heap; this binary does not, and the
  // handshake builds its registry and description with operator new alone. So K is 0 here: the sweep
  // still checks its outcome and that it leaves the heap as it found it.
  Sweep(Scenario{"handshake", [] {},
                 [this, description] {
                   if (host_.Load(&LoadoutsEntry) != GoxHost::LoadStatus::kLoaded)
                     return Outcome{true, 500, "refused", {}};
                   return Outcome{false, 0, description(), {}};
                 },
                 [this] { host_.Shutdown(); }});
  Sweep(Scenario{"Initialize",
                 [this] { ASSERT_EQ(host_.Load(&LoadoutsEntry), GoxHost::LoadStatus::kLoaded); },
                 [this] {
                   if (!host_.Initialize()) return Outcome{true, 500, "Initialize refused", {}};
                   return Outcome{false, 0, StateText(State()), {}};
                 },
                 [this] { host_.Shutdown(); }});
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
