// The built module, loaded by path as the host core loads it: every endpoint answers through its call
// entry, and calling them over and over leaves the module's heap where it was.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loadouts/loadouts_endpoints.h"
#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;

struct EndpointCall {
  const char* route;
  std::uint32_t method;
  const char* path;
  const char* body;
};

const EndpointCall kCalls[] = {
    {kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/A", ""},
    {kItemsRoute, kHttpMethodPost, "/gox-loadouts/v2/items/7", R"({"A":{"skin":3},"B":[1,2]})"},
    {kItemsRoute, kHttpMethodDelete, "/gox-loadouts/v2/items/7?inventoryType=A", ""},
    {kSendItemsRoute, kHttpMethodPost, "/gox-loadouts/v1/sendItemsToDuviRidaze/7", ""},
    {kInventoryRoute, kHttpMethodGet, R"(/gox-loadouts/v1/inventory?inventoryTypes=["A","B"])", ""},
};

class LoadoutsModuleTest : public LoadoutsFixture {
 protected:
  LoadoutsModuleTest() {
    const std::string loadouts = kLoadoutsBase;
    transport_->RouteJson(kHttpMethodPost, loadouts + "/loadouts/v3/items/get?puuid=p-1",
                          R"({"A":{"skin":3}})");
    transport_->RouteJson(kHttpMethodPost, loadouts + "/loadouts/v3/items?puuid=p-1", "{}");
    transport_->RouteJson(kHttpMethodDelete, loadouts + "/loadouts/v3/items/7?inventoryType=A&puuid=p-1", "");
    transport_->RouteJson(kHttpMethodPost, loadouts + "/loadouts/v3/signedItems/get?puuid=p-1",
                          R"(["s1","s2"])");
    transport_->RouteJson(
        kHttpMethodGet,
        std::string(kInventoryBase) +
            "/goxinventoryservice/v2/inventories?puuid=p-1&inventoryTypes=A&"
            "inventoryTypes=B&signed=false&location=loc-euw",
        R"({"data":{"items":{"A":[{"itemId":1,"inventoryType":"A"}],"B":[{"itemId":2}]}}})");
  }

  void CallEach(int times) {
    for (int i = 0; i < times; ++i) {
      for (const EndpointCall& call : kCalls) {
        const GoxHost::CallResponse response = Call(call.route, call.method, call.path, call.body);
        ASSERT_EQ(response.status, 0) << call.path << ": " << response.error.value_or("");
      }
      ClearRecords();  // the host's own records, not the module's
    }
  }

  [[nodiscard]] std::uint64_t BytesInUse() {
    const ::MemoryStats stats = host_.GetMemoryStats();
    return stats.bytesAllocated - stats.bytesFreed;
  }
};

TEST_F(LoadoutsModuleTest, RepeatedCallsLeaveTheModulesHeapWhereItWas) {
  StartModule(GOX_MODULE_PATH);
  CallEach(100);
  const std::uint64_t settled = BytesInUse();
  const ::MemoryStats before = host_.GetMemoryStats();
  CallEach(1900);
  EXPECT_EQ(BytesInUse(), settled);
  // The calls do reach the module's heap, so the counters are the ones that would show a leak.
  EXPECT_GT(host_.GetMemoryStats().allocationCount, before.allocationCount + 1900u * std::size(kCalls));
  EXPECT_EQ(host_.ServiceProxy().PendingAnswers(), 0u);
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
