// Several modules in one test host core: requests between them, events both ways, failures at start.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/host_core.h"

namespace GoxHost {
namespace {

constexpr const char* kA = "gox-relay-a";
constexpr const char* kB = "gox-relay-b";

JsonValue Json(const char* text) {
  return JsonValue::Parse(text).value();
}

class HostCoreModulesTest : public ::testing::Test {
 protected:
  void LoadBoth() {
    ASSERT_EQ(host_.AddModule(GOX_RELAY_A_PATH), LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_EQ(host_.AddModule(GOX_RELAY_B_PATH), LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_TRUE(host_.Initialize());
  }
  void TearDown() override {
    host_.Shutdown();
    for (const std::string& problem : host_.Problems())
      ADD_FAILURE() << problem;
  }

  CallResponse Call(std::uint32_t method, const std::string& path) {
    CallRequest request;
    request.method = method;
    request.path = path;
    const EndpointInfo* endpoint = nullptr;
    for (const EndpointInfo& candidate : host_.Description().endpoints) {
      const std::string prefix = candidate.path.substr(0, candidate.path.find('{'));
      if (candidate.method == method && path.starts_with(prefix) &&
          std::count(path.begin(), path.end(), '/') ==
              std::count(candidate.path.begin(), candidate.path.end(), '/') &&
          (endpoint == nullptr || prefix.size() > endpoint->path.find('{')))
        endpoint = &candidate;
    }
    if (endpoint == nullptr) {
      ADD_FAILURE() << "no endpoint for " << path;
      return {};
    }
    return host_.Call(*endpoint, request);
  }

  // The modules' never-destroyed tables stay mapped, as in gox-host, so the leak check sees them.
  static HostOptions KeptMapped() {
    HostOptions options;
    options.keepModuleMapped = true;
    return options;
  }
  HostCore host_{KeptMapped()};
};

TEST_F(HostCoreModulesTest, EachModuleHasItsOwnHandleAndTheDescriptionNamesTheOwner) {
  LoadBoth();
  const std::vector<ModuleInfo> modules = host_.Modules();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].name, kA);
  EXPECT_EQ(modules[1].name, kB);
  EXPECT_NE(modules[0].hostHandle, modules[1].hostHandle);
  EXPECT_TRUE(modules[0].started && modules[1].started);
  ASSERT_NE(host_.Description().FindEndpoint("/gox-relay-b/v1/state", kHttpMethodGet), nullptr);
  EXPECT_EQ(host_.Description().FindEndpoint("/gox-relay-b/v1/state", kHttpMethodGet)->module, kB);
  EXPECT_EQ(host_.Description().FindEndpoint("/gox-relay-a/v1/state", kHttpMethodGet)->module, kA);
}

TEST_F(HostCoreModulesTest, ANestedRequestIsAnsweredFromTheOtherModulesState) {
  LoadBoth();
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-b/v1/state/42").error);
  const CallResponse answer = Call(kHttpMethodGet, "/gox-relay-a/v1/ask/gox-relay-b");
  ASSERT_FALSE(answer.error) << *answer.error;
  EXPECT_EQ(answer.body.Get()["answer"].GetInt(), 42);
  // The callee's response record went back to it: nothing of the host's is outstanding.
  EXPECT_EQ(host_.OutstandingResponses(), 0u);
  const std::vector<CallRecord> calls = host_.Calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const CallRecord& call) {
    return call.entry == "request.forward" && call.summary == "GET /gox-relay-b/v1/state to gox-relay-b";
  }));
}

TEST_F(HostCoreModulesTest, ACalleeThatAwaitsKeepsTheCallersFrameWhileTheCallerIsReentered) {
  LoadBoth();
  host_.SetService([](const ServiceCall&) {
    ServiceAnswer answer;
    answer.payload = "{}";
    answer.delayYields = 2;
    return answer;
  });
  bool reentered = false;
  host_.AddYieldHook([&] {
    if (reentered) return;
    reentered = true;
    // While B awaits inside A's request, A is called again and changes its own state.
    EXPECT_FALSE(Call(kHttpMethodPost, "/gox-relay-a/v1/state/7").error);
  });
  const CallResponse answer = Call(kHttpMethodGet, "/gox-relay-a/v1/ask-slow/gox-relay-b");
  ASSERT_FALSE(answer.error) << *answer.error;
  EXPECT_TRUE(reentered);
  EXPECT_EQ(answer.body.Get()["before"].GetInt(), 0);
  EXPECT_EQ(answer.body.Get()["after"].GetInt(), 7);  // read again after the request
  EXPECT_EQ(answer.body.Get()["answer"].GetInt(), 0);
}

TEST_F(HostCoreModulesTest, SelfCallsAndCyclesAreRefusedAtTheDepthLimit) {
  LoadBoth();
  struct Case {
    const char* path;
    const char* chainStart;
  };
  const Case cases[] = {
      {"/gox-relay-a/v1/bounce/gox-relay-a", "gox-relay-a -> gox-relay-a -> gox-relay-a"},
      {"/gox-relay-a/v1/bounce/gox-relay-b", "gox-relay-b -> gox-relay-a -> gox-relay-b"},
  };
  for (const Case& c : cases) {
    const CallResponse answer = Call(kHttpMethodGet, c.path);
    ASSERT_TRUE(answer.error) << c.path;
    EXPECT_EQ(answer.status, HostCore::kNestedTooDeepStatus) << *answer.error;
    EXPECT_NE(answer.error->find("nest at most 8 deep"), std::string::npos) << *answer.error;
    EXPECT_NE(answer.error->find(c.chainStart), std::string::npos) << *answer.error;
    EXPECT_EQ(host_.OutstandingResponses(), 0u);
  }
  // The host is usable afterwards: the depth went back to nothing.
  EXPECT_FALSE(Call(kHttpMethodGet, "/gox-relay-a/v1/ask/gox-relay-b").error);
}

TEST_F(HostCoreModulesTest, EventsFlowBothWaysAndTheInitialReadSeesAnEarlierPublication) {
  LoadBoth();
  // B subscribed after A published its start value: B's initial read found it.
  const CallResponse seenByB = Call(kHttpMethodGet, "/gox-relay-b/v1/seen");
  EXPECT_NE(seenByB.body.Text().find("/gox-relay-a/v1/value=gox-relay-a-start"), std::string::npos)
      << seenByB.body.Text();

  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-a/v1/publish/to-b").error);
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-b/v1/publish/to-a").error);
  const std::string seenA = Call(kHttpMethodGet, "/gox-relay-a/v1/seen").body.Text();
  const std::string seenB = Call(kHttpMethodGet, "/gox-relay-b/v1/seen").body.Text();
  EXPECT_NE(seenA.find("/gox-relay-b/v1/value=to-a"), std::string::npos) << seenA;
  EXPECT_NE(seenA.find("/gox-relay-b/v1/value=gox-relay-b-start"), std::string::npos) << seenA;
  EXPECT_NE(seenB.find("/gox-relay-a/v1/value=to-b"), std::string::npos) << seenB;
  ASSERT_NE(host_.Resource("/gox-relay-b/v1/value"), nullptr);
  EXPECT_EQ(*host_.Resource("/gox-relay-b/v1/value"), Json(R"("to-a")"));
}

TEST_F(HostCoreModulesTest, AModuleThatRefusesToStartIsLeftOutWhileTheOtherServes) {
  ASSERT_EQ(host_.AddModule(GOX_RELAY_REFUSING_PATH), LoadStatus::kLoaded) << host_.LoadError();
  ASSERT_EQ(host_.AddModule(GOX_RELAY_B_PATH), LoadStatus::kLoaded) << host_.LoadError();
  EXPECT_FALSE(host_.Initialize());
  const std::vector<ModuleInfo> modules = host_.Modules();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_FALSE(modules[0].started);
  EXPECT_TRUE(modules[1].started);
  // Requests do not reach a module that did not start; they fall to the tree (nothing there).
  ASSERT_FALSE(Call(kHttpMethodGet, "/gox-relay-b/v1/ask/gox-relay-refusing").error == std::nullopt);
  EXPECT_TRUE(host_.ShutdownModule("gox-relay-refusing"));
  ASSERT_EQ(host_.Modules().size(), 1u);
  EXPECT_EQ(host_.Description().FindEndpoint("/gox-relay-refusing/v1/state", kHttpMethodGet), nullptr);
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-b/v1/state/3").error);
  EXPECT_EQ(Call(kHttpMethodGet, "/gox-relay-b/v1/state").body, Json("3"));
  // A library without an entry is not loaded at all, and the loaded one keeps serving.
  EXPECT_EQ(host_.AddModule("libm.so.6"), LoadStatus::kNoLibrary);
  EXPECT_EQ(host_.Modules().size(), 1u);
}

TEST_F(HostCoreModulesTest, TwoModulesClaimingOneRouteAreRefusedNamingBoth) {
  ASSERT_EQ(host_.AddModule(GOX_RELAY_A_PATH), LoadStatus::kLoaded);
  // The same library again has the same name and the same routes.
  EXPECT_EQ(host_.AddModule(GOX_RELAY_A_PATH), LoadStatus::kConflict);
  EXPECT_NE(host_.LoadError().find("gox-relay-a and gox-relay-a both serve GET /gox-relay-a/v1/"),
            std::string::npos)
      << host_.LoadError();
  EXPECT_EQ(host_.Modules().size(), 1u);
  EXPECT_TRUE(host_.Initialize());
}

}  // namespace
}  // namespace GoxHost
