#include "host/host_core.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_value_codec.h"
#include "tests/support/fake_plugin.h"

namespace GoxHost {
namespace {

using GoxHostTest::FakePlugin;
using GoxHostTest::Host;
using GoxHostTest::HostRequest;

JsonValue Json(const char* text) {
  return JsonValue::Parse(text).value();
}

CallRequest Request(std::uint32_t method, std::string path) {
  CallRequest request;
  request.method = method;
  request.path = std::move(path);
  return request;
}

ServiceAnswer Answer(std::string payload, std::uint32_t delayYields = 0, bool duringPost = false) {
  ServiceAnswer answer;
  answer.payload = std::move(payload);
  answer.delayYields = delayYields;
  answer.duringPost = duringPost;
  return answer;
}

bool Contains(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& text : texts)
    if (text.find(part) != std::string::npos) return true;
  return false;
}

class HostCoreTest : public ::testing::Test {
 protected:
  void SetUp() override { GoxHostTest::ResetFakePlugin(); }

  // Loads and starts the fake module listening to `names`.
  void Start(std::vector<std::string> names = {}) {
    FakePlugin().listenOnInitialize = std::move(names);
    ASSERT_EQ(host_.Load(&GoxHostTest::FakePluginEntry), LoadStatus::kLoaded);
    ASSERT_TRUE(host_.Initialize());
  }

  // Runs `body` inside a call on the fake's action endpoint, as the module's own code would.
  template <class Body>
  CallResponse InsideCall(Body body) {
    FakePlugin().endpoints[1] = [body](PluginResponse* response, const PluginRequest*) {
      body();
      GoxHostTest::Answer(response, 200, "null");
    };
    return host_.Call(GoxHostTest::kFakeActionPath, kHttpMethodPost,
                      Request(kHttpMethodPost, GoxHostTest::kFakeActionPath));
  }

  HostCore host_;
};

uint32_t RefuseAndScribble(PluginRegistration* registration) {
  registration->patch = 99;
  return 1;
}
uint32_t ClaimWithoutFilling(PluginRegistration*) {
  return 0;
}

TEST_F(HostCoreTest, HandshakeSendsTheVersionAndReportsRefusals) {
  struct Case {
    HostVersion version;
    PluginLoadEntry entry;
    LoadStatus status;
    bool recordUnchanged;
  };
  const Case cases[] = {
      {{18, 0, 0}, &GoxHostTest::FakePluginEntry, LoadStatus::kLoaded, false},
      {{18, 4, 1}, &GoxHostTest::FakePluginEntry, LoadStatus::kLoaded, false},
      {{17, 9, 9}, &GoxHostTest::FakePluginEntry, LoadStatus::kRefused, true},
      {{19, 0, 0}, &GoxHostTest::FakePluginEntry, LoadStatus::kRefused, true},
      {{18, 0, 0}, &RefuseAndScribble, LoadStatus::kRefused, false},
      {{18, 0, 0}, &ClaimWithoutFilling, LoadStatus::kRefused, true},
  };
  for (const Case& c : cases) {
    HostOptions options;
    options.version = c.version;
    HostCore host(options);
    EXPECT_EQ(host.Load(c.entry), c.status) << c.version.major << "." << c.version.minor;
    const Handshake& handshake = host.LastHandshake();
    EXPECT_EQ(handshake.sent.minor, c.version.minor);
    EXPECT_EQ(handshake.RecordUnchanged(), c.recordUnchanged);
    EXPECT_EQ(host.Description().endpoints.size(), c.status == LoadStatus::kLoaded ? 2u : 0u);
  }
}

TEST_F(HostCoreTest, LifecyclePassesTheContextAndChecksTheModulesManners) {
  Start({"OnA", "OnB"});
  ASSERT_TRUE(FakePlugin().context.has_value());
  EXPECT_EQ(FakePlugin().context->api, host_.Context().api);
  EXPECT_EQ(FakePlugin().context->hostHandle, host_.Context().hostHandle);
  EXPECT_EQ(host_.GetMemoryStats().allocationCount, 3u);
  FakePlugin().unregisterOnShutdown = false;
  const HostApi* api = Host();
  host_.Shutdown();
  EXPECT_TRUE(FakePlugin().shutDown);
  api->log(api, 2, "late");  // after Shutdown
  const std::vector<std::string> problems = host_.Problems();
  EXPECT_TRUE(Contains(problems, "listener still registered at shutdown: OnA"));
  EXPECT_TRUE(Contains(problems, "HostApi.log called outside"));
  // A second load in the same process starts clean.
  GoxHostTest::ResetFakePlugin();
  Start();
  host_.Shutdown();
}

TEST_F(HostCoreTest, RequestsGoToProvidersFirstThenToTheTree) {
  Start();
  host_.SetResource("/gox-login/v1/session", Json(R"({"puuid":"p-1"})"));
  std::vector<std::string> seen;
  host_.AddProvider({"/gox-inventory/v1/token", kHttpMethodGet}, [&](const ProviderRequest& request) {
    seen.push_back(request.positional.empty() ? "" : request.positional[0].Text());
    return ProviderAnswer::Ok(JsonValue::String("tok"));
  });
  host_.AddProvider({"/gox-store/", kHttpMethodAny, true},
                    [](const ProviderRequest&) { return ProviderAnswer::Error(503, "store down"); });
  struct Case {
    std::uint32_t method;
    const char* path;
    std::int32_t status;
    const char* body;   // when no error
    const char* error;  // or null
  };
  const Case cases[] = {
      {kHttpMethodGet, "/gox-login/v1/session", 200, R"({"puuid":"p-1"})", nullptr},
      {kHttpMethodGet, "/gox-login/v1/missing", 404, nullptr, "Resource not found: /gox-login/v1/missing"},
      {kHttpMethodPut, "/gox-login/v1/session", 404, nullptr, "No handler for PUT /gox-login/v1/session"},
      {kHttpMethodGet, "/gox-inventory/v1/token", 200, R"("tok")", nullptr},
      {kHttpMethodPost, "/gox-inventory/v1/token", 404, nullptr, "No handler for POST"},
      {kHttpMethodDelete, "/gox-store/v2/x", 503, nullptr, "store down"},
  };
  for (const Case& c : cases) {
    const GoxHostTest::HostAnswer answer = HostRequest(c.method, c.path, {R"(["A"])"});
    EXPECT_EQ(answer.status, c.status) << c.path;
    if (c.error) {
      ASSERT_TRUE(answer.error) << c.path;
      EXPECT_NE(answer.error->find(c.error), std::string::npos) << *answer.error;
    } else {
      EXPECT_FALSE(answer.error) << c.path;
      EXPECT_EQ(answer.body, c.body);
    }
  }
  EXPECT_EQ(seen, std::vector<std::string>{R"(["A"])"});
  EXPECT_EQ(host_.OutstandingResponses(), 0u);
}

TEST_F(HostCoreTest, StreamsFollowTheScriptAndTheModuleYieldsBetweenShortChunks) {
  Start();
  const std::string text(9000, 'x');
  struct Case {
    std::vector<StreamChunk> script;
    int yields;
    std::vector<std::string> reads;
  };
  const Case cases[] = {
      {{}, 0, {"4096 more", "4096 more", "810 last"}},
      {{{10, true}}, 1, {"10 more", "4096 more", "4096 more", "800 last"}},
      {{{4096, true}, {0, true}, {100, false}}, 1, {"4096 more", "0 more", "100 last"}},
  };
  for (const Case& c : cases) {
    host_.AddProvider({"/s", kHttpMethodGet}, [&](const ProviderRequest&) {
      return ProviderAnswer{200, JsonValue::String(text), {}, c.script};
    });
    host_.ClearRecords();
    const GoxHostTest::HostAnswer answer = HostRequest(kHttpMethodGet, "/s", {});
    EXPECT_EQ(answer.yields, c.yields);
    std::vector<std::string> reads;
    for (const CallRecord& call : host_.Calls())
      if (call.entry == "stream.read") reads.push_back(call.summary);
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(host_.CallEntries().back(), "response.release");
    if (c.script.empty()) {
      EXPECT_EQ(answer.body, JsonValue::String(text).Text());
    }
  }
}

TEST_F(HostCoreTest, ResourceEventsWaitInTheQueueUntilTheHostHasControl) {
  Start({"OnJsonApiEvent_gox-login_v1_session"});
  host_.PublishResource("/gox-login/v1/session", Json(R"({"puuid":"p-1"})"));
  host_.PublishResource("/gox-login/v1/session", Json(R"({"puuid":"p-2"})"));
  EXPECT_TRUE(FakePlugin().events.empty());
  EXPECT_EQ(host_.DeliverPendingEvents(), 2u);
  host_.DeleteResource("/gox-login/v1/session");
  std::size_t seenDuringCall = 99;
  (void)InsideCall([&] { seenDuringCall = FakePlugin().events.size(); });
  EXPECT_EQ(seenDuringCall, 2u);  // delivered after the call returned, not during it
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"OnJsonApiEvent_gox-login_v1_session",
       R"({"uri":"/gox-login/v1/session","eventType":"Create","data":{"puuid":"p-1"}})"},
      {"OnJsonApiEvent_gox-login_v1_session",
       R"({"uri":"/gox-login/v1/session","eventType":"Update","data":{"puuid":"p-2"}})"},
      {"OnJsonApiEvent_gox-login_v1_session",
       R"({"uri":"/gox-login/v1/session","eventType":"Delete","data":null})"},
  };
  EXPECT_EQ(FakePlugin().events, expected);
  EXPECT_EQ(host_.Resource("/gox-login/v1/session"), nullptr);
}

TEST_F(HostCoreTest, YieldDeliversEventsInsideTheModulesWait) {
  Start({"OnTick"});
  host_.AddYieldHook([&] {
    if (host_.YieldCount() == 2) host_.QueueEvent("OnTick", Json("2"));
  });
  FakePlugin().onEvent = [](const PluginEventRecord*) {
    const PluginEventRecord reply{"OnTick", HostValue{}, 0, nullptr};
    if (FakePlugin().events.size() == 1) Host()->sendEvent(Host(), &reply);
  };
  std::vector<std::size_t> seenAfterYield;
  (void)InsideCall([&] {
    for (int i = 0; i < 3; ++i) {
      Host()->yield(Host());
      seenAfterYield.push_back(FakePlugin().events.size());
    }
  });
  // The event the hook queued arrives inside yield 2; the one its delivery sent waits for yield 3.
  EXPECT_EQ(seenAfterYield, (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(HostCoreTest, EventsTheModuleSendsAreRecordedRoutedAndKeptInTheTree) {
  Start({"OnJsonApiEvent_gox-loadouts_v1_enabled"});
  (void)InsideCall([] {
    HostValue payload =
        ToHostValue(Json(R"({"uri":"/gox-loadouts/v1/enabled","eventType":"Update","data":true})").Get());
    for (const char* name : {"OnJsonApiEvent_gox-loadouts_v1_enabled", "OnJsonApiEvent"}) {
      const PluginEventRecord record{name, payload, 0, nullptr};
      Host()->sendEvent(Host(), &record);
    }
    ReleaseHostValue(&payload);
  });
  ASSERT_EQ(host_.SentEvents().size(), 2u);
  EXPECT_EQ(host_.SentEvents()[1].name, "OnJsonApiEvent");
  EXPECT_EQ(FakePlugin().events.size(), 1u);  // only the name it listens to
  ASSERT_NE(host_.Resource("/gox-loadouts/v1/enabled"), nullptr);
  EXPECT_EQ(host_.Resource("/gox-loadouts/v1/enabled")->Text(), "true");
}

TEST_F(HostCoreTest, ServiceProxyAnswersArriveWhenScripted) {
  struct Case {
    std::uint32_t delayYields;
    bool duringPost;
    int yieldsUntilAnswer;  // -1: the answer came during the post
  };
  const Case cases[] = {{0, false, 1}, {3, false, 3}, {0, true, -1}};
  for (const Case& c : cases) {
    GoxHostTest::ResetFakePlugin();
    HostCore host;
    FakePlugin().listenOnInitialize = {kServiceProxyUuidEvent};
    ASSERT_EQ(host.Load(&GoxHostTest::FakePluginEntry), LoadStatus::kLoaded);
    ASSERT_TRUE(host.Initialize());
    host.SetService([&](const ServiceCall& call) {
      return Answer(R"({"echo":)" + call.payload + "}", c.delayYields, c.duringPost);
    });
    const std::string handle = std::to_string(host.Context().hostHandle);
    const GoxHostTest::HostAnswer uuid =
        HostRequest(kHttpMethodPost, kServiceProxyUuidPath,
                    {R"("teambuilder-draft")", R"("v1.pick")", handle, R"("{}")"});
    ASSERT_EQ(uuid.status, 200) << uuid.error.value_or("");
    int yields = FakePlugin().events.empty() ? 0 : -1;
    while (FakePlugin().events.empty() && yields < 10) {
      Host()->yield(Host());
      ++yields;
    }
    EXPECT_EQ(yields, c.yieldsUntilAnswer);
    ASSERT_EQ(FakePlugin().events.size(), 1u);
    const JsonValue answer = Json(FakePlugin().events[0].second.c_str());
    EXPECT_EQ(JsonValue(answer.Get()["uuid"]).Text(), uuid.body);
    EXPECT_EQ(JsonValue(answer.Get()["payload"]).Text(), R"("{\"echo\":{}}")");
    EXPECT_STREQ(answer.Get()["methodName"].GetString(), "v1.pick");
    host.Shutdown();
  }
}

TEST_F(HostCoreTest, ServiceProxyMethodRequestsAnswerUnderTheAnswerMethod) {
  Start({kServiceProxyMethodEvent});
  host_.SetService([](const ServiceCall&) { return Answer("1"); });
  const std::string handle = std::to_string(host_.Context().hostHandle);
  const GoxHostTest::HostAnswer posted =
      HostRequest(kHttpMethodPost, kServiceProxyMethodPath,
                  {R"("svc")", R"("m")", R"("answer")", R"("")", handle, R"("{}")"});
  EXPECT_EQ(posted.status, 200);
  EXPECT_EQ(posted.body, "null");
  const GoxHostTest::HostAnswer wrong =
      HostRequest(kHttpMethodPost, kServiceProxyMethodPath, {R"("svc")", R"("m")", "7", R"("{}")"});
  EXPECT_EQ(wrong.status, 400);
  const GoxHostTest::HostAnswer badHandle =
      HostRequest(kHttpMethodPost, kServiceProxyUuidPath, {R"("svc")", R"("m")", "12345", R"("{}")"});
  EXPECT_EQ(badHandle.error.value_or(""), "service-proxy request names an unknown host handle");
  host_.DeliverPendingEvents();
  ASSERT_EQ(FakePlugin().events.size(), 1u);
  EXPECT_EQ(FakePlugin().events[0].first, kServiceProxyMethodEvent);
  EXPECT_EQ(Json(FakePlugin().events[0].second.c_str()).Get()["methodName"], "answer");
  EXPECT_EQ(host_.ServiceProxy().Calls().size(), 1u);
}

TEST_F(HostCoreTest, ExternalRequestsGoThroughTheTransport) {
  Start();
  auto transport = std::make_shared<ScriptedTransport>();
  transport->Answer({0, 201, {{"content-type", "text/plain"}}, "made"});
  host_.SetTransport(transport);
  const char* headers[] = {"user-agent", "fake/1"};
  const PluginExternalRequest request{kHttpMethodPut, "https://svc.example/x", headers, 1, "hi", 2, 7, 1};
  struct Seen {
    int32_t result, status;
    std::string header, body;
  };
  std::vector<Seen> seen;
  for (int i = 0; i < 2; ++i) {
    PluginExternalResponse response{};
    Host()->externalRequest(Host(), &response, &request);
    seen.push_back({response.result, response.status, response.headerCount ? response.headers[1] : "",
                    std::string(static_cast<const char*>(response.body), response.bodyLength)});
    response.release(&response);
  }
  EXPECT_EQ(seen[0].status, 201);
  EXPECT_EQ(seen[0].header, "text/plain");
  EXPECT_EQ(seen[0].body, "made");
  EXPECT_EQ(seen[1].result, -1);  // the script ran out
  ASSERT_EQ(transport->Calls().size(), 2u);
  const ExternalCall& call = transport->Calls()[0];
  EXPECT_EQ(call.url, "https://svc.example/x");
  EXPECT_EQ(call.headers, (HeaderList{{"user-agent", "fake/1"}}));
  EXPECT_EQ(call.body, "hi");
  EXPECT_EQ(call.value, 7u);
  EXPECT_EQ(host_.OutstandingResponses(), 0u);
}

TEST_F(HostCoreTest, EndpointCallsCarryTheRequestAndReadTheResponseBack) {
  Start();
  std::string seen;
  FakePlugin().endpoints[0] = [&](PluginResponse* response, const PluginRequest* request) {
    HostValueReading first = FromHostValue(request->parameters[0].value);
    seen = std::string(request->path) + "|" + request->parameters[0].name + "=" + first.value->Text() + "|" +
           (request->parameters[1].name ? "named" : "positional") + "|" + request->headers[1] + "|" +
           request->contentType + "|" +
           std::string(static_cast<const char*>(request->body), request->bodyLength) + "|" +
           std::to_string(request->handleOrRequestId) +
           (request->context == host_.Description().endpoints[0].context ? "|context" : "");
    GoxHostTest::Answer(response, 202, R"({"ok":true})");
    static const char* const kHeaders[] = {"x-a", "1"};
    response->headers = kHeaders;
    response->headerCount = 1;
    response->mode = 2;
    response->reason = "Accepted";
  };
  CallRequest request = Request(kHttpMethodGet, "/fake/v1/echo/7?verbose=1");
  request.parameters = {{"a", Json("[1]")}, {{}, Json(R"("x")")}};
  request.headers = {{"accept", "application/json"}};
  request.contentType = "application/json";
  request.body = "{}";
  request.requestId = 42;
  const CallResponse response = host_.Call(GoxHostTest::kFakeEchoPath, kHttpMethodGet, request);
  EXPECT_EQ(seen,
            "/fake/v1/echo/7?verbose=1|a=[1]|positional|application/json|application/json|{}|42|context");
  EXPECT_EQ(response.status, 202);
  EXPECT_EQ(response.mode, 2u);
  EXPECT_EQ(response.reason, "Accepted");
  EXPECT_EQ(response.headers, (HeaderList{{"x-a", "1"}}));
  EXPECT_EQ(response.body.Text(), R"({"ok":true})");
  EXPECT_TRUE(response.released);
  EXPECT_EQ(FakePlugin().responseReleases, 1);
  EXPECT_TRUE(response.problems.empty());
  EXPECT_FALSE(host_.Call("/nowhere", kHttpMethodGet, Request(kHttpMethodGet, "/nowhere")).problems.empty());
}

TEST_F(HostCoreTest, WaitsLogAndCallsAreRecordedInOrder) {
  Start();
  host_.ClearRecords();
  (void)InsideCall([] {
    const HostApi* api = Host();
    api->beginWait(api, "Wait: future<X>", 0);
    api->beginWait(api, "Wait: yield", 0);
    api->yield(api);
    api->endWait(api);
    api->endWait(api);
    api->endWait(api);  // one too many
    api->log(api, 3, "progress");
    api->reserved5(api, 1, 2, 3, 0.5, 4);
  });
  EXPECT_EQ(host_.CallEntries(), (std::vector<std::string>{"beginWait", "beginWait", "yield", "endWait",
                                                           "endWait", "endWait", "log", "reserved5"}));
  std::vector<std::uint32_t> depths;
  for (const WaitRecord& wait : host_.Waits())
    depths.push_back(wait.depth);
  EXPECT_EQ(depths, (std::vector<std::uint32_t>{1, 2, 2, 1, 0}));
  EXPECT_EQ(host_.Waits()[1].label, "Wait: yield");
  EXPECT_EQ(host_.LogLines().at(0).message, "progress");
  EXPECT_EQ(host_.Problems(), std::vector<std::string>{"HostApi.endWait without an open wait"});
}

TEST_F(HostCoreTest, ReleasingARecordTwiceIsAProblemNotADoubleFree) {
  Start();
  host_.SetResource("/r", Json("[1,2]"));
  PluginRequest request{};
  request.method = kHttpMethodGet;
  request.path = "/r";
  request.handleOrRequestId = host_.Context().hostHandle;
  PluginResponse response{};
  Host()->request(Host(), &response, &request);
  EXPECT_EQ(host_.OutstandingResponses(), 1u);
  const PluginResponseRelease release = response.release;
  release(&response);
  release(&response);
  EXPECT_EQ(host_.OutstandingResponses(), 0u);
  EXPECT_TRUE(Contains(host_.Problems(), "already released"));
}

TEST(HostCoreSinksTest, ALongRunningHostKeepsNoRecordsButHandsOnLogLinesProblemsAndEvents) {
  GoxHostTest::ResetFakePlugin();
  std::vector<std::string> logged;
  std::vector<std::string> problems;
  std::vector<std::string> seen;
  HostOptions options;
  options.keepRecords = false;
  options.logSink = [&](std::int32_t level, const std::string& message) {
    logged.push_back(std::to_string(level) + ": " + message);
  };
  options.problemSink = [&](const std::string& problem) { problems.push_back(problem); };
  HostCore host(options);
  host.ObserveAll([&](const QueuedEvent& event) { seen.push_back(event.name); });
  FakePlugin().listenOnInitialize = {"A"};
  ASSERT_EQ(host.Load(&GoxHostTest::FakePluginEntry), LoadStatus::kLoaded);
  ASSERT_TRUE(host.Initialize());
  const HostApi* api = Host();
  for (int i = 0; i < 3; ++i) {
    api->log(api, 1, "line");
    api->endWait(api);  // a broken rule
    api->yield(api);
  }
  host.QueueEvent("A", Json("1"));
  host.QueueEvent("B", Json("2"));
  EXPECT_EQ(host.DeliverPendingEvents(), 2u);
  EXPECT_EQ(logged, (std::vector<std::string>{"1: line", "1: line", "1: line"}));
  EXPECT_EQ(problems.size(), 3u);
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B"}));  // whether or not the module listens
  EXPECT_EQ(FakePlugin().events.size(), 1u);
  EXPECT_TRUE(host.Calls().empty());
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_TRUE(host.Waits().empty());
  EXPECT_EQ(host.Problems().size(), 3u);  // problems are still kept, up to a bound
  host.Shutdown();
}

}  // namespace
}  // namespace GoxHost
