#include "tools/gox_host/plugin_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_plugin.h"

namespace GoxHostApp {
namespace {

using GoxHostTest::FakePlugin;
using std::chrono::milliseconds;

class PluginThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { GoxHostTest::ResetFakePlugin(); }

  void Start() {
    PluginThreadOptions options;
    options.entry = &GoxHostTest::FakePluginEntry;
    ASSERT_EQ(plugin_.Start(std::move(options)), std::nullopt);
  }

  // Calls the fake's action endpoint on the plugin thread.
  GoxHost::CallResponse CallAction() {
    GoxHost::CallResponse response;
    const std::shared_ptr<const ModuleSnapshot> snapshot = plugin_.Snapshot();
    const GoxHost::EndpointInfo* endpoint =
        snapshot->description.FindEndpoint(GoxHostTest::kFakeActionPath, kHttpMethodPost);
    GoxHost::CallRequest request;
    request.method = kHttpMethodPost;
    request.path = GoxHostTest::kFakeActionPath;
    EXPECT_EQ(plugin_.Run([&](GoxHost::HostCore& host) { response = host.Call(*endpoint, request); }),
              RunStatus::kDone);
    return response;
  }

  PluginThread plugin_;
};

TEST_F(PluginThreadTest, TasksFromManyThreadsRunOneAtATimeOnThePluginThread) {
  Start();
  std::thread::id pluginThread;
  ASSERT_EQ(plugin_.Run([&](GoxHost::HostCore&) { pluginThread = std::this_thread::get_id(); }),
            RunStatus::kDone);
  std::atomic<int> inside = 0;
  std::atomic<int> overlaps = 0;
  std::atomic<int> offThread = 0;
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t)
    callers.emplace_back([&] {
      for (int i = 0; i < 50; ++i)
        (void)plugin_.Run([&](GoxHost::HostCore&) {
          if (++inside > 1) ++overlaps;
          if (std::this_thread::get_id() != pluginThread) ++offThread;
          --inside;
        });
    });
  for (std::thread& caller : callers)
    caller.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(offThread, 0);
}

TEST_F(PluginThreadTest, TheQueueIsServedWhileTheModuleYields) {
  // The module waits, yielding, for something only another task can do, as a module awaiting an
  // answer does; without the queue being served inside yield this would never end.
  std::atomic<bool> released = false;
  FakePlugin().endpoints[1] = [&](PluginResponse* response, const PluginRequest*) {
    for (int i = 0; i < 100000 && !released; ++i)
      GoxHostTest::Host()->yield(GoxHostTest::Host());
    GoxHostTest::Answer(response, 200, released ? "true" : "false");
  };
  Start();
  std::thread caller([&] { EXPECT_EQ(CallAction().body.Text(), "true"); });
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(plugin_.Run([&](GoxHost::HostCore&) { released = true; }, std::chrono::seconds(10)),
            RunStatus::kDone);
  caller.join();
}

TEST_F(PluginThreadTest, LateTasksAreAbandonedAndStoppedThreadsRunNothing) {
  std::atomic<bool> busyStarted = false;
  FakePlugin().endpoints[1] = [&](PluginResponse* response, const PluginRequest*) {
    busyStarted = true;
    std::this_thread::sleep_for(milliseconds(300));
    GoxHostTest::Answer(response, 200, "null");
  };
  Start();
  std::thread busy([&] { (void)CallAction(); });
  for (int i = 0; i < 1000 && !busyStarted; ++i)
    std::this_thread::sleep_for(milliseconds(5));
  std::atomic<bool> ran = false;
  EXPECT_EQ(plugin_.Run([&](GoxHost::HostCore&) { ran = true; }, milliseconds(10)), RunStatus::kTimedOut);
  busy.join();
  EXPECT_EQ(plugin_.Run([](GoxHost::HostCore&) {}), RunStatus::kDone);
  EXPECT_FALSE(ran);  // abandoned before it started

  plugin_.Stop();
  EXPECT_TRUE(FakePlugin().shutDown);
  EXPECT_EQ(plugin_.Run([&](GoxHost::HostCore&) { ran = true; }), RunStatus::kStopped);
  EXPECT_FALSE(ran);
}

TEST_F(PluginThreadTest, LoadAndInitializeFailuresAreReported) {
  PluginThreadOptions missing;
  missing.modulePaths = {"/nonexistent/libgox_loadouts.so"};
  const std::optional<std::string> error = plugin_.Start(std::move(missing));
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("/nonexistent/libgox_loadouts.so"), std::string::npos) << *error;

  FakePlugin().initializeResult = false;
  PluginThread refusing;
  PluginThreadOptions options;
  options.entry = &GoxHostTest::FakePluginEntry;
  EXPECT_EQ(refusing.Start(std::move(options)).value_or(""), "the module's Initialize answered failure");
  EXPECT_EQ(refusing.Run([](GoxHost::HostCore&) {}), RunStatus::kStopped);
}

}  // namespace
}  // namespace GoxHostApp
