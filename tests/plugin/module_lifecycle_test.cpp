// The built module, opened with dlopen by the stand-in host core, goes through its whole life twice in
// one process: load, Initialize, a memory-statistics read, Shutdown, close.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_core.h"

namespace GoxHost {
namespace {

TEST(ModuleLifecycleTest, LoadsStartsAndStopsTwiceInOneProcess) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    HostCore host;
    ASSERT_EQ(host.Load(GOX_MODULE_PATH), LoadStatus::kLoaded) << host.LoadError();
    EXPECT_STREQ(host.LastHandshake().record.shortName, "gox-loadouts");
    ASSERT_TRUE(host.Initialize());
    const MemoryStats stats = host.GetMemoryStats();
    EXPECT_GT(stats.allocationCount, 0u);
    EXPECT_EQ(stats.reserved[0] | stats.reserved[1], 0u);
    host.Shutdown();
    EXPECT_FALSE(host.IsLoaded());
    EXPECT_EQ(host.Problems(), std::vector<std::string>());
    EXPECT_EQ(host.OutstandingResponses(), 0u);
  }
}

}  // namespace
}  // namespace GoxHost
