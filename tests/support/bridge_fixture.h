// BridgeFixture: the common frame of the host-bridge tests: the process's logger held for the test, a
// stand-in host core, and the test plugin loaded and started in it. At the end the plugin is shut down
// and the host must have seen no broken rule.

#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_core.h"
#include "tests/support/bridge_test_plugin.h"
#include "tests/support/recording_log_target.h"

namespace Quarn::BridgeTest {

class BridgeFixture : public ::testing::Test {
 protected:
  void SetUp() override { NextBridgeTestSetup() = {}; }

  void TearDown() override {
    host_.Shutdown();
    EXPECT_EQ(host_.Problems(), std::vector<std::string>());
    EXPECT_EQ(host_.OutstandingResponses(), 0u);
  }

  // Loads and starts the test plugin with setup; the host's records start empty afterwards.
  BridgeTestPlugin& Start(PluginSetup setup = {}) {
    NextBridgeTestSetup() = std::move(setup);
    EXPECT_EQ(host_.Load(&BridgeTestPluginEntry), GoxHost::LoadStatus::kLoaded);
    EXPECT_TRUE(host_.Initialize());
    host_.ClearRecords();
    return LoadedBridgeTestPlugin(host_);
  }

  // The log lines the host received, as "level: message".
  [[nodiscard]] std::vector<std::string> HostLog() const {
    std::vector<std::string> lines;
    for (const GoxHost::LogLine& line : host_.LogLines())
      lines.push_back(std::to_string(line.level) + ": " + line.message);
    return lines;
  }

  ScopedLogger logger_;  // declared first: the plugin's log target goes before the logger does
  GoxHost::HostCore host_;
};

}  // namespace Quarn::BridgeTest
