#include "sdk/host/plugin_base.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/diagnostics/logger.h"
#include "tests/support/bridge_fixture.h"

namespace Quarn::BridgeTest {
namespace {

using GoxHost::HostCore;
using GoxHost::HostOptions;
using GoxHost::LoadStatus;

TEST(PluginBaseHandshakeTest, LoadsOnlyForACompatibleHostAndAnswersItsOwnVersion) {
  struct Case {
    GoxHost::HostVersion host;
    bool loads;
  };
  const Case cases[] = {
      {{18, 0, 0}, true}, {{18, 0, 7}, true}, {{18, 4, 0}, true}, {{17, 9, 9}, false}, {{19, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.host.major) + "." + std::to_string(c.host.minor) + "." +
                 std::to_string(c.host.patch));
    ScopedLogger logger;
    RecordingLogTarget recorder;
    recorder.Attach();
    GetLoggerApi()->detachTarget(GetLoggerApi()->stdErrTarget());
    NextBridgeTestSetup() = {};
    HostOptions options;
    options.version = c.host;
    HostCore host(options);
    ASSERT_EQ(host.Load(&BridgeTestPluginEntry), c.loads ? LoadStatus::kLoaded : LoadStatus::kRefused);
    const PluginRegistration& record = host.LastHandshake().record;
    if (c.loads) {
      EXPECT_EQ(std::vector<std::uint32_t>({record.major, record.minor, record.patch}),
                std::vector<std::uint32_t>({18, 0, 0}));
      EXPECT_STREQ(record.shortName, kBridgeTestShortName);
      EXPECT_TRUE(recorder.Entries().empty());
    } else {
      EXPECT_TRUE(host.LastHandshake().RecordUnchanged());
      ASSERT_EQ(recorder.Entries().size(), 1u);
      EXPECT_EQ(recorder.Entries()[0].level, 2);
      EXPECT_EQ(recorder.Entries()[0].message, "Assertion failed!\n\nExpression: ALE-EECF0606");
    }
    host.Shutdown();
    EXPECT_TRUE(host.Problems().empty());
  }
}

class PluginBaseTest : public BridgeFixture {};

TEST_F(PluginBaseTest, InitializeRegistersTheServiceProxyAnswersBeforeThePluginsOwnWork) {
  NextBridgeTestSetup().onInitialize = [](BridgeTestPlugin& plugin) {
    plugin.Subscribe("/gox-test/v1/ready");
    return true;
  };
  ASSERT_EQ(host_.Load(&BridgeTestPluginEntry), LoadStatus::kLoaded);
  ASSERT_TRUE(host_.Initialize());
  std::vector<std::string> registered;
  for (const GoxHost::CallRecord& call : host_.Calls())
    if (call.entry == "registerEvent") registered.push_back(call.summary);
  const std::vector<std::string> expected = {
      "OnServiceProxyUuidEvent flag 1", "OnServiceProxyMethodEvent flag 1", "OnServiceProxyAsyncEvent flag 1",
      "OnJsonApiEvent_gox-test_v1_ready flag 0"};
  EXPECT_EQ(registered, expected);
  EXPECT_EQ(LoadedBridgeTestPlugin(host_).UserAgent(), "QuarnClient/18.0.0 (gox-test)");
}

// The stand-in host hands Initialize a HostContext on its stack and overwrites it once Initialize
// returns: the plugin must have copied the table and the handle.
TEST_F(PluginBaseTest, HostCallsAfterInitializeDoNotReadTheHostContextAgain) {
  BridgeTestPlugin& plugin = Start();
  plugin.Subscribe("/gox-test/v1/later");
  plugin.YieldOnce();
  EXPECT_EQ(plugin.HostHandle(), GoxHost::HostOptions().hostHandle);
  const std::vector<std::string> entries = host_.CallEntries();
  EXPECT_EQ(entries, (std::vector<std::string>{"registerEvent", "beginWait", "yield", "endWait"}));
}

TEST_F(PluginBaseTest, InitializeRefusedByThePluginIsAnsweredFalse) {
  NextBridgeTestSetup().onInitialize = [](BridgeTestPlugin&) { return false; };
  ASSERT_EQ(host_.Load(&BridgeTestPluginEntry), LoadStatus::kLoaded);
  EXPECT_FALSE(host_.Initialize());
}

TEST_F(PluginBaseTest, MemoryStatsCountTheModulesHeapAndKeepTheReservedWordsZero) {
  Start();
  const ::MemoryStats stats = host_.GetMemoryStats();
  EXPECT_EQ(stats.reserved[0], 0u);
  EXPECT_EQ(stats.reserved[1], 0u);
  EXPECT_GE(stats.bytesAllocated, stats.bytesFreed);
  EXPECT_GE(stats.allocationCount, stats.freeCount);
}

// A second plugin started in the same process finds the first one's log target and leaves the logger
// as it is: its lines reach the host that started first.
TEST_F(PluginBaseTest, SecondInitializeKeepsTheExistingPluginLogTarget) {
  Start();
  const LogTargetApi* first = GetLoggerApi()->findTarget(kPluginLogTargetName);
  ASSERT_NE(first, nullptr);

  HostCore second;
  ASSERT_EQ(second.Load(&BridgeTestPluginEntry), LoadStatus::kLoaded);
  ASSERT_TRUE(second.Initialize());
  EXPECT_EQ(GetLoggerApi()->findTarget(kPluginLogTargetName), first);
  Log(kLogLevelError, 0, "from the second");
  EXPECT_EQ(HostLog(), std::vector<std::string>({"2: from the second"}));
  EXPECT_TRUE(second.LogLines().empty());
  second.Shutdown();
  EXPECT_TRUE(second.Problems().empty());
}

}  // namespace
}  // namespace Quarn::BridgeTest
