#include "sdk/host/service_proxy_requests.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sdk/host/service_proxy_tables.h"
#include "tests/support/bridge_fixture.h"

namespace Quarn::BridgeTest {
namespace {

using GoxHost::ServiceAnswer;
using GoxHost::ServiceCall;
using GoxHost::WaitRecord;

ServiceAnswer Answer(std::string payload, std::uint32_t delayYields, bool duringPost = false,
                     std::string error = {}) {
  ServiceAnswer answer;
  answer.payload = std::move(payload);
  answer.delayYields = delayYields;
  answer.duringPost = duringPost;
  answer.error = std::move(error);
  return answer;
}

std::string WaitText(const WaitRecord& wait) {
  switch (wait.kind) {
    case WaitRecord::Kind::kBegin:
      return "begin " + wait.label;
    case WaitRecord::Kind::kYield:
      return "yield";
    case WaitRecord::Kind::kEnd:
      return "end";
  }
  return {};
}

// A completion that throws is caught where the tables run it: its pair is forgotten (the waiter learns
// from its broken promise), the other pairs are still matched, and the throw never reaches the host.
TEST(ServiceProxyTablesTest, ThrowingCompletionLeavesNothingHalfDone) {
  ScopedLogger logger;
  const std::string logName = "gox-test";
  ServiceProxyTables tables(logName);
  int completed = 0;
  ASSERT_TRUE(tables.Start("a", [](const PluginServiceProxyResponse&) { throw std::runtime_error("bad"); }));
  ASSERT_TRUE(tables.Start("b", [&](const PluginServiceProxyResponse&) { ++completed; }));
  const PluginServiceProxyResponse answer;
  EXPECT_NO_THROW(tables.Arrive("a", answer));
  EXPECT_NO_THROW(tables.Arrive("b", answer));
  EXPECT_EQ(completed, 1);
  EXPECT_FALSE(tables.InFlight("a"));
  // The thrown pair's answer is gone too: a new request under its key waits for a new answer.
  ASSERT_TRUE(tables.Start("a", [&](const PluginServiceProxyResponse&) { ++completed; }));
  EXPECT_TRUE(tables.InFlight("a"));
  EXPECT_EQ(completed, 1);
}

class ServiceProxyRequestsTest : public BridgeFixture {
 protected:
  std::vector<std::string> WaitTexts() const {
    std::vector<std::string> texts;
    for (const WaitRecord& wait : host_.Waits())
      texts.push_back(WaitText(wait));
    return texts;
  }
};

TEST_F(ServiceProxyRequestsTest, AwaitedAnswerOpensOneWaitAroundEveryYield) {
  BridgeTestPlugin& plugin = Start();
  host_.SetService([](const ServiceCall&) { return Answer(R"({"name":"back","count":9})", 3); });
  MaybeType<Gadget> result = plugin.CallServiceProxyAndWait<Gadget, Gadget>("gox-inventory", "getItems",
                                                                            Gadget{"in", 1, Shade::Dark});
  ASSERT_TRUE(result.Ok()) << result.GetFailure().Message();
  EXPECT_EQ(result.Value().count, 9);

  const std::string label = "begin Wait: future<" + std::string(TypeIdOf<MaybeType<Gadget>>().name) + ">";
  EXPECT_EQ(WaitTexts(), std::vector<std::string>({label, "yield", "yield", "yield", "end"}));
  ASSERT_EQ(host_.ServiceProxy().Calls().size(), 1u);
  const ServiceCall& call = host_.ServiceProxy().Calls()[0];
  EXPECT_EQ(call.service + " " + call.method + " " + call.payload,
            R"(gox-inventory getItems {"count":1,"name":"in","shade":"Dark"})");
  const std::vector<std::string> log = HostLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "3: gox-test: Preparing service proxy request: gox-inventory.getItems");
  EXPECT_TRUE(log[1].starts_with("3: gox-test: Started service proxy request: gox-inventory.getItems ("))
      << log[1];
  const std::string key = log[1].substr(log[1].find('(') + 1, log[1].size() - log[1].find('(') - 2);
  EXPECT_EQ(log[2], "3: gox-test: Fulfilled service proxy request: " + key);
}

// The stand-in answers inside the post, before the plugin knows the uuid: the answer waits in the
// arrived table and completes the request as soon as it is registered, with no wait at all.
TEST_F(ServiceProxyRequestsTest, AnswerArrivingDuringThePostIsDeliveredWhenTheRequestIsRegistered) {
  BridgeTestPlugin& plugin = Start();
  host_.SetService([](const ServiceCall&) { return Answer(R"({"name":"early"})", 0, true); });
  MaybeType<Gadget> result = plugin.CallServiceProxyAndWait<Gadget, Gadget>("svc", "m", Gadget{});
  ASSERT_TRUE(result.Ok()) << result.GetFailure().Message();
  EXPECT_EQ(result.Value().name, "early");
  EXPECT_TRUE(host_.Waits().empty());
}

TEST_F(ServiceProxyRequestsTest, SecondMethodRequestWithTheSameAnswerMethodFailsWithoutPosting) {
  BridgeTestPlugin& plugin = Start();
  host_.SetService([](const ServiceCall&) { return Answer(R"({"count":5})", 2); });
  auto first = plugin.CallServiceProxy<Gadget, Gadget>("svc", "put", Gadget{}, "onPut", "");
  auto second = plugin.CallServiceProxy<Gadget, Gadget>("svc", "put2", Gadget{}, "onPut", "");
  MaybeType<Gadget> refused = plugin.Await<Gadget>(std::move(second));
  ASSERT_TRUE(refused.HasFailure());
  EXPECT_EQ(refused.GetFailure().Message(), "Request already in flight");
  EXPECT_EQ(host_.ServiceProxy().Calls().size(), 1u);
  EXPECT_EQ(host_.ServiceProxy().Calls()[0].answerMethod, "onPut");

  MaybeType<Gadget> answered = plugin.Await<Gadget>(std::move(first));
  ASSERT_TRUE(answered.Ok()) << answered.GetFailure().Message();
  EXPECT_EQ(answered.Value().count, 5);
  EXPECT_FALSE(plugin.ServiceProxy().InFlight("svc.onPut"));
  const std::vector<std::string> log = HostLog();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "2: gox-test: Could not invoke service proxy as request is already in flight"),
            log.end());
}

TEST_F(ServiceProxyRequestsTest, FailuresComeThroughTheFuture) {
  BridgeTestPlugin& plugin = Start();
  struct Case {
    const char* label;
    ServiceAnswer answer;
    bool postFails;
    std::string message;
  };
  const Case cases[] = {
      {"service error", Answer(R"({"count":1})", 1, false, "No such summoner"), false, "No such summoner"},
      {"wrong payload", Answer(R"("just text")", 1), false,
       R"(Failed to deserialize response payload ""just text"" to a Gadget)"},
      {"no JSON", Answer("{", 0), false, R"(Failed to deserialize response payload "{" to a Gadget)"},
      {"post refused", Answer("{}", 0), true,
       "Error response for POST /gox-login/v1/service-proxy-uuid-requests: login is down"},
  };
  for (const Case& c : cases) {
    host_.SetService([&c](const ServiceCall&) { return c.answer; });
    if (c.postFails) {
      host_.AddProvider({kServiceProxyUuidPath, kHttpMethodPost, false}, [](const GoxHost::ProviderRequest&) {
        return GoxHost::ProviderAnswer::Error(503, "login is down");
      });
    }
    MaybeType<Gadget> result = plugin.CallServiceProxyAndWait<Gadget, Gadget>("svc", "m", Gadget{});
    ASSERT_TRUE(result.HasFailure()) << c.label;
    EXPECT_EQ(result.GetFailure().Message(), c.message) << c.label;
  }
}

TEST_F(ServiceProxyRequestsTest, UnrequestedAsyncAnswerIsLoggedAsAnError) {
  Start();
  host_.QueueEvent(
      kServiceProxyAsyncEvent,
      GoxHost::JsonValue::Parse(R"({"uuid":"","serviceName":"svc","methodName":"push","payload":"{}",
                                                 "status":"200","error":""})")
          .value());
  host_.DeliverPendingEvents();
  EXPECT_EQ(HostLog(), std::vector<std::string>(
                           {"2: gox-test: Could not find registered handler for async service proxy "
                            "event svc.push"}));
}

// A request whose tables are emptied while its caller waits (as Shutdown does) can never be answered:
// the waiter gets a failure, reported once, instead of waiting for ever.
TEST_F(ServiceProxyRequestsTest, AbandonedRequestEndsTheWaitWithAFailure) {
  BridgeTestPlugin& plugin = Start();
  host_.SetService([](const ServiceCall&) { return Answer("{}", 1000); });
  host_.AddYieldHook([&] {
    if (host_.YieldCount() == 2) plugin.UnregisterAll();
  });
  MaybeType<Gadget> result = plugin.CallServiceProxyAndWait<Gadget, Gadget>("svc", "m", Gadget{});
  ASSERT_TRUE(result.HasFailure());
  EXPECT_EQ(result.GetFailure().Message(),
            "Caught std::future_error in AppModule::Await: (1) broken promise");
  EXPECT_EQ(host_.YieldCount(), 2u);
  const std::vector<std::string> log = HostLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "2: Assertion failed!\n\nExpression: ALE-6D828C10"), 1);
  EXPECT_EQ(WaitTexts().back(), "end");
}

}  // namespace
}  // namespace Quarn::BridgeTest
