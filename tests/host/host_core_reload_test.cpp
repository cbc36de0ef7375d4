// Replacing a running module with a new build of it in the test host core: what the new module starts
// from, what a broken file leaves serving, a failed start, and the tables of the old module.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/host_core.h"
#include "tests/support/fake_plugin.h"
#include "tests/support/temporary_folder.h"

namespace GoxHost {
namespace {

constexpr const char* kA = "gox-relay-a";

std::uint32_t RefusingEntry(PluginRegistration*) {
  return 7;
}

class HostCoreReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    Put(GOX_RELAY_A_PATH);
    ASSERT_EQ(host_.AddModule(path_), LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_EQ(host_.AddModule(GOX_RELAY_B_PATH), LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_TRUE(host_.Initialize());
  }
  void TearDown() override {
    host_.Shutdown();
    for (const std::string& problem : host_.Problems())
      ADD_FAILURE() << problem;
  }

  // Copies `source` over relay a's file, as a rebuild would.
  void Put(const std::string& source) {
    std::filesystem::copy_file(source, path_, std::filesystem::copy_options::overwrite_existing);
  }
  void PutBytes(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
  }

  CallResponse Call(std::uint32_t method, const std::string& path) {
    CallRequest request;
    request.method = method;
    request.path = path;
    std::string pathTemplate = path;
    if (pathTemplate.starts_with("/gox-relay-a/v1/state/")) pathTemplate = "/gox-relay-a/v1/state/{value}";
    return host_.Call(pathTemplate, method, request);
  }
  std::int64_t Generation() {
    return Call(kHttpMethodGet, "/gox-relay-a/v1/generation").body.Get().GetInt64();
  }
  std::int64_t Counter() { return Call(kHttpMethodGet, "/gox-relay-a/v1/state").body.Get().GetInt64(); }

  static HostOptions Options() {
    HostOptions options;
    options.keepModuleMapped = true;  // as in gox-host: the modules' never-destroyed tables stay valid
    options.loadPrivateCopy = true;
    return options;
  }

  GoxHostTest::TemporaryFolder folder_;
  std::string path_ = folder_.File("libgox_relay_a.so");
  HostCore host_{Options()};
};

TEST_F(HostCoreReloadTest, TheNewBuildServesInPlaceAndStartsFromTheCurrentResources) {
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-a/v1/state/5").error);
  host_.PublishResource("/gox-relay-b/v1/value", JsonValue::Parse(R"("from-b")").value());
  host_.SetResource("/elsewhere/v1/kept", JsonValue::Parse("1").value());
  host_.DeliverPendingEvents();
  const std::uint32_t oldHandle = host_.Modules()[0].hostHandle;
  Put(GOX_RELAY_A_NEXT_PATH);

  const ReloadResult result = host_.ReloadModule(kA);
  ASSERT_EQ(result.status, ReloadStatus::kReloaded) << result.message;
  EXPECT_TRUE(result.serving);
  EXPECT_EQ(Generation(), 2);
  EXPECT_EQ(Counter(), 0);  // a new instance: its own state starts afresh
  // Its subscription read b's current value; the tree and b itself are untouched.
  EXPECT_NE(Call(kHttpMethodGet, "/gox-relay-a/v1/seen").body.Text().find("/gox-relay-b/v1/value=from-b"),
            std::string::npos);
  ASSERT_NE(host_.Resource("/elsewhere/v1/kept"), nullptr);
  EXPECT_FALSE(Call(kHttpMethodGet, "/gox-relay-b/v1/ask/gox-relay-a").error);

  const std::vector<ModuleInfo> modules = host_.Modules();
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].name, kA);  // in its place in the load order
  EXPECT_EQ(modules[0].loads, 2u);
  EXPECT_EQ(modules[0].libraryPath, path_);
  EXPECT_NE(modules[0].hostHandle, oldHandle);
  EXPECT_NE(modules[0].hostHandle, modules[1].hostHandle);
  EXPECT_GT(host_.GetMemoryStats().allocationCount, 0u);  // the first module's stats are the new image's
  // Two reloads of the same file map two fresh images: the second is a reload too, not the cached one.
  Put(GOX_RELAY_A_PATH);
  ASSERT_EQ(host_.ReloadModule(kA).status, ReloadStatus::kReloaded);
  EXPECT_EQ(Generation(), 1);
  EXPECT_EQ(host_.Modules()[0].loads, 3u);
}

TEST_F(HostCoreReloadTest, ABrokenFileLeavesTheOldModuleServingAndSaysWhy) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
    ReloadStatus status;
    const char* said;
  };
  const Case cases[] = {
      {"missing", [this] { std::filesystem::remove(path_); }, ReloadStatus::kNoLibrary, "libgox_relay_a.so"},
      {"garbage", [this] { PutBytes(std::string(4096, 'x')); }, ReloadStatus::kNoLibrary,
       "libgox_relay_a.so"},
      {"truncated",
       [this] {
         std::ifstream in(GOX_RELAY_A_NEXT_PATH, std::ios::binary);
         const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
         PutBytes(bytes.substr(0, bytes.size() / 3));
       },
       ReloadStatus::kNoLibrary, "libgox_relay_a.so"},
      {"no entry", [this] { Put(GOX_RELAY_B_PATH); }, ReloadStatus::kNoLibrary,
       "no entry named load_gox_relay_a"},
      {"claims b's route", [this] { Put(GOX_RELAY_A_CLAIMING_PATH); }, ReloadStatus::kConflict,
       "gox-relay-b and gox-relay-a both serve GET /gox-relay-b/v1/state"},
  };
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-a/v1/state/5").error);
  for (const Case& c : cases) {
    c.prepare();
    const ReloadResult result = host_.ReloadModule(kA);
    EXPECT_EQ(result.status, c.status) << c.what << ": " << result.message;
    EXPECT_NE(result.message.find(c.said), std::string::npos) << c.what << ": " << result.message;
    EXPECT_TRUE(result.serving) << c.what;
    // The very instance that served before still does, with its state.
    EXPECT_EQ(Generation(), 1) << c.what;
    EXPECT_EQ(Counter(), 5) << c.what;
    EXPECT_EQ(host_.Modules()[0].loads, 1u) << c.what;
  }
  // A refused handshake, from an entry.
  const ReloadResult refused = host_.ReloadModule(kA, &RefusingEntry);
  EXPECT_EQ(refused.status, ReloadStatus::kRefused);
  EXPECT_NE(refused.message.find("entry answered 7"), std::string::npos) << refused.message;
  EXPECT_EQ(Counter(), 5);
  EXPECT_EQ(host_.ReloadModule("gox-nobody").status, ReloadStatus::kNoModule);
}

TEST_F(HostCoreReloadTest, ANewBuildThatFailsToStartGivesWayToTheOldCode) {
  ASSERT_FALSE(Call(kHttpMethodPost, "/gox-relay-a/v1/state/5").error);
  Put(GOX_RELAY_A_REFUSING_PATH);
  const ReloadResult result = host_.ReloadModule(kA);
  EXPECT_EQ(result.status, ReloadStatus::kNotStarted);
  EXPECT_NE(result.message.find("Initialize answered failure"), std::string::npos) << result.message;
  EXPECT_TRUE(result.serving);
  EXPECT_EQ(Generation(), 1);
  EXPECT_EQ(Counter(), 0);  // started again: fresh state
  ASSERT_EQ(host_.Modules().size(), 2u);
  EXPECT_TRUE(host_.Modules()[0].started);
  // Both failed listeners' registrations are gone; the restarted module is told of b's value again.
  EXPECT_NE(Call(kHttpMethodGet, "/gox-relay-a/v1/seen").body.Text().find("gox-relay-b-start"),
            std::string::npos);
}

TEST_F(HostCoreReloadTest, WhenTheOldCodeFailsToStartAgainTooTheModuleIsLeftOut) {
  // A module that never started: its reload to a build that does not start either leaves nothing.
  host_.Shutdown();
  Put(GOX_RELAY_A_REFUSING_PATH);
  ASSERT_EQ(host_.AddModule(path_), LoadStatus::kLoaded);
  ASSERT_EQ(host_.AddModule(GOX_RELAY_B_PATH), LoadStatus::kLoaded);
  EXPECT_FALSE(host_.Initialize());
  const ReloadResult result = host_.ReloadModule(kA);
  EXPECT_EQ(result.status, ReloadStatus::kLeftOut);
  EXPECT_FALSE(result.serving);
  ASSERT_EQ(host_.Modules().size(), 1u);
  EXPECT_EQ(host_.Modules()[0].name, "gox-relay-b");
  EXPECT_EQ(host_.Description().FindEndpoint("/gox-relay-a/v1/state", kHttpMethodGet), nullptr);
  EXPECT_FALSE(Call(kHttpMethodGet, "/gox-relay-b/v1/state").error);
}

TEST_F(HostCoreReloadTest, AReloadInsideACallIsRefusedAndTheCallCompletes) {
  host_.SetService([](const ServiceCall&) {
    ServiceAnswer answer;
    answer.payload = "{}";
    answer.delayYields = 2;
    return answer;
  });
  std::optional<ReloadResult> inside;
  host_.AddYieldHook([&] {
    if (!inside) inside = host_.ReloadModule(kA);
  });
  Put(GOX_RELAY_A_NEXT_PATH);
  const CallResponse slow = Call(kHttpMethodGet, "/gox-relay-a/v1/slow");
  EXPECT_FALSE(slow.error) << *slow.error;
  ASSERT_TRUE(inside.has_value());
  EXPECT_EQ(inside->status, ReloadStatus::kBusy) << inside->message;
  EXPECT_EQ(Generation(), 1);
  // Between calls it goes ahead.
  EXPECT_EQ(host_.ReloadModule(kA).status, ReloadStatus::kReloaded);
  EXPECT_EQ(Generation(), 2);
}

// The fake module, reloaded from its entry: the old instance's HostApi table is closed for good.
TEST(HostCoreReloadTableTest, TheOldModulesTableRefusesLateCallsAndItsListenersAreGone) {
  GoxHostTest::ResetFakePlugin();
  GoxHostTest::FakePlugin().listenOnInitialize = {"OnSomething"};
  HostCore host;
  ASSERT_EQ(host.Load(&GoxHostTest::FakePluginEntry), LoadStatus::kLoaded);
  ASSERT_TRUE(host.Initialize());
  const HostContext oldContext = *GoxHostTest::FakePlugin().context;
  // A module loaded from an entry has no file to reload from.
  EXPECT_EQ(host.ReloadModule("fake").status, ReloadStatus::kNoLibrary);
  ASSERT_EQ(host.ReloadModule("fake", &GoxHostTest::FakePluginEntry).status, ReloadStatus::kReloaded);
  const HostContext newContext = *GoxHostTest::FakePlugin().context;
  EXPECT_NE(newContext.api, oldContext.api);
  EXPECT_NE(newContext.hostHandle, oldContext.hostHandle);
  EXPECT_EQ(host.Events().RegisteredNames(oldContext.hostHandle).size(), 0u);
  EXPECT_EQ(host.Events().RegisteredNames(newContext.hostHandle).size(), 1u);

  host.ClearRecords();
  oldContext.api->registerEvent(
      oldContext.api, "OnLate", oldContext.hostHandle, [](const PluginEventRecord*) {}, nullptr, 0);
  EXPECT_EQ(host.Events().RegisteredNames(oldContext.hostHandle).size(), 0u);
  ASSERT_EQ(host.Problems().size(), 1u);
  EXPECT_NE(host.Problems()[0].find("registerEvent called outside"), std::string::npos);
  host.ClearRecords();
  host.Shutdown();
}

}  // namespace
}  // namespace GoxHost
