// The five endpoints called through the stand-in host core's call entries, against scripted remote
// services: what each sends, answers, logs and publishes.

#include <gtest/gtest.h>

#include "loadouts/loadouts_endpoints.h"
#include "loadouts/upstream_subscriptions.h"
#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;

class LoadoutsEndpointsTest : public LoadoutsFixture {};

TEST_F(LoadoutsEndpointsTest, GetItemsReadsTheTypeFromTheServiceAnswer) {
  Start();
  transport_->RouteJson(kHttpMethodPost, std::string(kLoadoutsBase) + "/loadouts/v3/items/get",
                        R"({"A":{"skin":3},"B":null})");
  const GoxHost::CallResponse response =
      Call(kItemsOfTypeRoute, kHttpMethodGet, "/gox-loadouts/v2/items/7/A");
  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(response.error.value_or(response.body.Text()), R"({"skin":3})");
  EXPECT_EQ(Requests(),
            std::vector<std::string>{"POST https://loadouts.test/loadouts/v3/items/get?puuid=p-1"});
  ASSERT_EQ(transport_->Calls().size(), 1u);
  EXPECT_EQ(transport_->Calls()[0].body,
            "{\r\n    \"id\": 7,\r\n    \"inventoryJWTs\": [\r\n        \"jwt-A\"\r\n    ],\r\n"
            "    \"inventoryTypes\": [\r\n        \"A\"\r\n    ]\r\n}");
  EXPECT_EQ(Errors(), std::vector<std::string>());
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
