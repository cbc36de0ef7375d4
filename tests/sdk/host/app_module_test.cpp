#include "sdk/host/app_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "sdk/binding/module_heap.h"

#include "tests/support/bridge_fixture.h"

namespace Quarn::BridgeTest {
namespace {

using GoxHost::JsonValue;

JsonValue Json(const char* text) {
  return JsonValue::Parse(text).value();
}

// The summaries of the host calls made under `entry`.
std::vector<std::string> CallsTo(const GoxHost::HostCore& host, const std::string& entry) {
  std::vector<std::string> summaries;
  for (const GoxHost::CallRecord& call : host.Calls())
    if (call.entry == entry) summaries.push_back(call.summary);
  return summaries;
}

class AppModuleTest : public BridgeFixture {};

TEST_F(AppModuleTest, SubscriptionsRegisterEachEventNameOnceAndUnregisterWithTheLastListener) {
  BridgeTestPlugin& plugin = Start();
  plugin.Subscribe("/x/v1/a/b");
  plugin.Subscribe("/x/v1/a/c");  // the same event name
  plugin.Subscribe("gox-platform-config/v1/namespaces/Loadouts/Valid/extra");
  plugin.Subscribe("/");
  EXPECT_EQ(
      CallsTo(host_, "registerEvent"),
      std::vector<std::string>({"OnJsonApiEvent_x_v1_a flag 0",
                                "OnJsonApiEvent_gox-platform-config_v1_namespaces_Loadouts_Valid flag 0",
                                "OnJsonApiEvent flag 0"}));
  EXPECT_EQ(plugin.SubscriptionCount("/x/v1/a/zzz"), 2);

  plugin.Unsubscribe("/never/v1/seen");
  plugin.Unsubscribe("/x/v1/a/b");
  EXPECT_TRUE(CallsTo(host_, "unregisterEvent").empty());
  plugin.Unsubscribe("/x/v1/a/c");
  plugin.Unsubscribe("/x/v1/a/c");  // one too many: the count stays at 0
  EXPECT_EQ(CallsTo(host_, "unregisterEvent"), std::vector<std::string>({"OnJsonApiEvent_x_v1_a"}));
  EXPECT_EQ(plugin.SubscriptionCount("/x/v1/a"), 0);
}

TEST_F(AppModuleTest, ExactListenerGetsTheCurrentValueAsCreateOnlyWhenTheReadSucceeds) {
  host_.SetResource("/gox-gameflow/v1/session", Json(R"({"name":"lobby","count":2,"shade":"Dark"})"));
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> seen;
  plugin.AddResourceListener<Gadget>(
      "/gox-gameflow/v1/session", [&](const TypedResourceEvent<Gadget>& event) {
        seen.push_back(event.uri + " " + std::to_string(static_cast<int>(event.eventType)) + " " +
                       event.value.name + " " + std::to_string(event.value.count) + " " +
                       std::to_string(static_cast<int>(event.value.shade)));
      });
  EXPECT_EQ(seen, std::vector<std::string>({"/gox-gameflow/v1/session 0 lobby 2 1"}));

  plugin.AddResourceListener<Gadget>("/gox-missing/v1/thing",
                                     [&](const TypedResourceEvent<Gadget>&) { seen.push_back("missing"); });
  plugin.AddResourceListener<Gadget>("/gox-gameflow/v1/*",
                                     [&](const TypedResourceEvent<Gadget>&) { seen.push_back("pattern"); });
  EXPECT_EQ(seen.size(), 1u);  // a failed read and a pattern deliver nothing
  EXPECT_EQ(CallsTo(host_, "request"),
            std::vector<std::string>(
                {"GET /gox-gameflow/v1/session (0 parameters)", "GET /gox-missing/v1/thing (0 parameters)"}));
}

TEST_F(AppModuleTest, EventsReachExactAndPatternListenersByTheirUri) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> seen;
  const auto listen = [&](const char* key) {
    plugin.AddResourceListener<BindingProperty>(
        key, [&seen, key](const TypedResourceEvent<BindingProperty>& event) {
          seen.push_back(std::string(key) + " <- " + event.uri);
        });
  };
  listen("/gox-login/v1/session");
  listen("/gox-login/v1/*");
  listen("/gox-login/*/c");

  struct Case {
    const char* uri;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"gox-login/v1/session",  // no leading '/': matched as if it had one, delivered unchanged
       {"/gox-login/v1/session <- gox-login/v1/session", "/gox-login/v1/* <- gox-login/v1/session"}},
      {"/gox-login/v1/bcd", {"/gox-login/v1/* <- /gox-login/v1/bcd"}},
      {"/gox-login/v1/", {}},
      {"/gox-login/v1/b/c", {}},
      {"/gox-login//c", {"/gox-login/*/c <- /gox-login//c"}},
      {"/gox-login/x/c", {"/gox-login/*/c <- /gox-login/x/c"}},
  };
  for (const Case& c : cases) {
    seen.clear();
    host_.QueueEvent(
        "OnJsonApiEvent_gox-login_v1_session",
        Json(("{\"uri\":\"" + std::string(c.uri) + "\",\"eventType\":\"Update\",\"data\":{}}").c_str()));
    host_.QueueEvent(
        "OnJsonApiEvent_gox-login_v1",
        Json(("{\"uri\":\"" + std::string(c.uri) + "\",\"eventType\":\"Update\",\"data\":{}}").c_str()));
    host_.DeliverPendingEvents();
    EXPECT_EQ(seen, c.expected) << c.uri;
  }
}

TEST_F(AppModuleTest, DeleteReachesTypedListenersWithADefaultValueAndBadDataIsDropped) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> seen;
  plugin.AddResourceListener<Gadget>("/gox-test/v1/a/*", [&](const TypedResourceEvent<Gadget>& event) {
    seen.push_back(event.uri + " " + std::to_string(static_cast<int>(event.eventType)) + " " +
                   event.value.name);
  });
  host_.QueueEvent("OnJsonApiEvent_gox-test_v1_a",
                   Json(R"({"uri":"/gox-test/v1/a/b","eventType":"Delete"})"));
  host_.QueueEvent("OnJsonApiEvent_gox-test_v1_a",
                   Json(R"({"uri":"/gox-test/v1/a/b","eventType":"Update","data":{"count":"many"}})"));
  host_.QueueEvent("OnJsonApiEvent_gox-test_v1_a",
                   Json(R"({"uri":"/gox-test/v1/a/b","eventType":"Sideways"})"));
  host_.QueueEvent("OnJsonApiEvent_gox-test_v1_a",
                   Json(R"({"uri":"/gox-test/v1/a/b","eventType":"Update","data":{"name":"n"}})"));
  host_.DeliverPendingEvents();
  EXPECT_EQ(seen, std::vector<std::string>({"/gox-test/v1/a/b 2 ", "/gox-test/v1/a/b 1 n"}));
}

TEST_F(AppModuleTest, PublishingSendsTheEventUnderItsOwnNameAndUnderTheGeneralName) {
  BridgeTestPlugin& plugin = Start();
  ASSERT_TRUE(plugin.PublishResource("/gox-test/v1/enabled", Gadget{"on", 1, Shade::Dark}).Ok());
  ASSERT_TRUE(plugin.PublishResourceDeletion("/gox-test/v1/enabled").Ok());
  const auto& sent = host_.SentEvents();
  ASSERT_EQ(sent.size(), 4u);
  const char* const names[] = {"OnJsonApiEvent_gox-test_v1_enabled", "OnJsonApiEvent",
                               "OnJsonApiEvent_gox-test_v1_enabled", "OnJsonApiEvent"};
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].name, names[i]);
    EXPECT_EQ(sent[i].flag, 0u);
    EXPECT_EQ(sent[i].payload.Text(), sent[i - i % 2].payload.Text());
  }
  EXPECT_EQ(
      sent[0].payload.Text(),
      R"({"data":{"count":1,"name":"on","shade":"Dark"},"eventType":"Update","uri":"/gox-test/v1/enabled"})");
  EXPECT_EQ(sent[2].payload.Text(), R"({"data":null,"eventType":"Delete","uri":"/gox-test/v1/enabled"})");
}

// Events that arrive while Shutdown empties the tables are dropped, and work the plugin still does
// then meets the finalizing state instead of freed tables.
TEST_F(AppModuleTest, EventsDeliveredDuringShutdownAreDropped) {
  int delivered = 0;
  std::string proxyFailure;
  PluginSetup setup;
  setup.onShutdown = [&](BridgeTestPlugin& plugin) {
    host_.PublishResource("/gox-test/v1/late", Json(R"({"name":"late"})"));
    plugin.YieldOnce();  // the host delivers the queued event now
    auto future = plugin.CallServiceProxy<Gadget, Gadget>("svc", "m", Gadget{}, {}, {});
    proxyFailure = future.get().GetFailure().Message();
  };
  BridgeTestPlugin& plugin = Start(std::move(setup));
  plugin.AddResourceListener<Gadget>("/gox-test/v1/late",
                                     [&](const TypedResourceEvent<Gadget>&) { ++delivered; });
  host_.Shutdown();
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(proxyFailure, "Finalizing");
  EXPECT_TRUE(host_.ServiceProxy().Calls().empty());
  EXPECT_EQ(host_.YieldCount(), 1u);
}

// Nothing thrown while an event is delivered reaches the host core, which has no way to catch it: the
// stand-in host lets exceptions through its yield and its event delivery. Each throw is logged once and
// the plugin carries on with the next event.
TEST_F(AppModuleTest, ExceptionsThrownDuringEventDeliveryStayInThePlugin) {
  BridgeTestPlugin& plugin = Start();
  int delivered = 0;
  plugin.AddResourceListener<Gadget>("/gox-test/v1/throws", [&](const TypedResourceEvent<Gadget>& event) {
    ++delivered;
    if (event.value.name == "alloc") throw std::bad_alloc();
    if (event.value.name == "other") throw 7;
    if (event.value.name == "error") throw std::runtime_error("listener gave up");
  });
  host_.ClearRecords();
  for (const char* name : {"alloc", "other", "error", "fine"}) {
    host_.QueueEvent("OnJsonApiEvent_gox-test_v1_throws",
                     Json(("{\"uri\":\"/gox-test/v1/throws\",\"eventType\":\"Update\",\"data\":{\"name\":\"" +
                           std::string(name) + "\"}}")
                              .c_str()));
  }
  EXPECT_NO_THROW(plugin.YieldOnce());  // the host delivers inside the yield
  EXPECT_EQ(delivered, 4);
  EXPECT_EQ(HostLog(),
            std::vector<std::string>(
                {"2: gox-test: Handling event OnJsonApiEvent_gox-test_v1_throws failed: std::bad_alloc",
                 "2: gox-test: Handling event OnJsonApiEvent_gox-test_v1_throws failed: unknown exception",
                 "2: gox-test: Handling event OnJsonApiEvent_gox-test_v1_throws failed: listener gave up"}));
}

// Each allocation of the module heap made while an event is delivered fails in turn: the event is then
// dropped or delivered whole, and nothing leaks (the sanitizer build checks).
TEST_F(AppModuleTest, AllocationFailureDuringEventDeliveryDropsTheEventCleanly) {
  BridgeTestPlugin& plugin = Start();
  std::vector<std::string> seen;
  plugin.AddResourceListener<Gadget>("/gox-test/v1/alloc", [&](const TypedResourceEvent<Gadget>& event) {
    seen.push_back(event.value.name);
  });
  const std::string name(200, 'n');  // long enough to need storage of its own
  bool failedOnce = false;
  for (std::uint64_t nth = 1; nth < 200; ++nth) {
    seen.clear();
    host_.QueueEvent("OnJsonApiEvent_gox-test_v1_alloc",
                     Json(("{\"uri\":\"/gox-test/v1/alloc\",\"eventType\":\"Update\",\"data\":{\"name\":\"" +
                           name + "\",\"count\":1}}")
                              .c_str()));
    FailNthHeapAllocation(nth);
    EXPECT_NO_THROW(plugin.YieldOnce());
    const bool fired = FailNthHeapAllocation(0) == 0;
    if (!fired) {
      EXPECT_EQ(seen, std::vector<std::string>({name}));
      break;
    }
    failedOnce = true;
    EXPECT_TRUE(seen.empty() || seen == std::vector<std::string>({name})) << nth;
  }
  EXPECT_TRUE(failedOnce);
}

// Shutdown that arrives while the plugin awaits (here: inside an event callback) must not destroy the
// plugin under its own frames: the await gives up with "Finalizing", the callback finishes with the
// plugin intact, and the plugin is destroyed once the callback has returned to the host.
TEST_F(AppModuleTest, ShutdownDuringAYieldDefersTheDestructionUntilTheHostsCallReturns) {
  bool destroyed = false;
  bool destroyedInsideCallback = true;
  std::string failure;
  std::string lateRequest;
  std::vector<std::string> calls;
  PluginSetup setup;
  setup.onDestroy = [&] { destroyed = true; };
  BridgeTestPlugin& plugin = Start(std::move(setup));
  host_.SetService([](const GoxHost::ServiceCall&) {
    GoxHost::ServiceAnswer never;
    never.delayYields = 1000;
    return never;
  });
  plugin.AddResourceListener<Gadget>("/gox-test/v1/go", [&](const TypedResourceEvent<Gadget>&) {
    MaybeType<Gadget> answer = plugin.CallServiceProxyAndWait<Gadget, Gadget>("svc", "m", Gadget{});
    failure = answer.HasFailure() ? answer.GetFailure().Message() : "(answered)";
    destroyedInsideCallback = destroyed;
    plugin.YieldOnce();  // after Shutdown: reaches nothing
    const MaybeType<> late = plugin.SendRequest(kHttpMethodGet, "/gox-test/v1/after");
    lateRequest = late.HasFailure() ? late.GetFailure().Message() : "(sent)";
  });
  bool shutDown = false;
  host_.AddYieldHook([&] {
    if (shutDown) return;
    shutDown = true;
    host_.Shutdown();
  });
  host_.ClearRecords();
  host_.QueueEvent("OnJsonApiEvent_gox-test_v1_go",
                   Json(R"({"uri":"/gox-test/v1/go","eventType":"Update","data":{}})"));
  host_.DeliverPendingEvents();
  EXPECT_EQ(failure, "Finalizing");
  EXPECT_EQ(lateRequest, "Error response for GET /gox-test/v1/after: No host core to send the request to");
  EXPECT_FALSE(destroyedInsideCallback);
  EXPECT_TRUE(destroyed);
  for (const GoxHost::CallRecord& call : host_.Calls())
    calls.push_back(call.entry);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "yield"), 1)
      << "the plugin reached the host after Shutdown";
}

}  // namespace
}  // namespace Quarn::BridgeTest
