// A plugin built on PluginBase registers endpoints in OnRegister; the stand-in host core loads it,
// reads its description and calls the endpoints through it.

#include <gtest/gtest.h>

#include "host/host_core.h"
#include "sdk/endpoints/endpoint_builder.h"
#include "sdk/host/plugin_base.h"
#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

constexpr const char* kItems = "/gox-ept/v1/items/{id}/{inventoryType}";
constexpr const char* kItem = "/gox-ept/v1/items/{id}";

class EndpointPlugin final : public PluginBase {
 public:
  void OnRegister() override {
    RegisterEndpoint(OwnRegistry(), DocumentationTags(), kHttpMethodGet, kItems,
                     MakeHandler([](std::uint64_t id, std::string inventoryType) {
                       return std::to_string(id) + "/" + inventoryType;
                     }))
        .AddPathArgument("id", "The item")
        .AddPathArgument("inventoryType", "Its inventory");
    RegisterEndpoint(OwnRegistry(), DocumentationTags(), kHttpMethodPost, kItem,
                     MakeHandler([](std::uint64_t id, BindingProperty body) {
                       body.Field("id").SetUnsigned(id);
                       return body;
                     }))
        .AddPathArgument("id", "The item")
        .AddBodyArgument("body", "Its new state");
  }
};

std::uint32_t EndpointPluginEntry(PluginRegistration* registration) {
  return LoadPlugin<EndpointPlugin>(registration, "gox-ept");
}

TEST(PluginEndpointsTest, HostCoreCallsTheRegisteredEndpoints) {
  ScopedLogger logger;
  GoxHost::HostCore host;
  ASSERT_EQ(host.Load(&EndpointPluginEntry), GoxHost::LoadStatus::kLoaded);
  ASSERT_TRUE(host.Initialize());
  EXPECT_TRUE(host.Description().problems.empty());
  const GoxHost::EndpointInfo* items = host.Description().FindEndpoint(kItems, kHttpMethodGet);
  ASSERT_NE(items, nullptr);
  EXPECT_EQ(items->name, "GetGoxEptV1ItemsByIdByInventoryType");
  EXPECT_EQ(items->tags, (std::vector<std::string>{"Plugins", "Plugin gox-ept"}));

  struct Case {
    const char* pathTemplate;
    std::uint32_t method;
    const char* path;
    const char* body;
    std::int32_t status;
    const char* answer;  // body JSON or error
  };
  const Case cases[] = {
      {kItems, kHttpMethodGet, "/gox-ept/v1/items/7/A%20B", "", 0, R"("7/A B")"},
      {kItems, kHttpMethodGet, "/gox-ept/v1/items/x/A", "", 0,
       "Value x for 'id' of type uint64 is in an incorrect format"},
      {kItems, kHttpMethodPost, "/gox-ept/v1/items/7/A", "", 404, "Invalid function"},
      {kItem, kHttpMethodPost, "/gox-ept/v1/items/9", R"({"a":true})", 0, R"({"a":true,"id":9})"},
      {kItem, kHttpMethodPost, "/gox-ept/v1/items/9", R"({"a":)", 0, "Error: Invalid value. at offset 5."},
  };
  for (const Case& c : cases) {
    GoxHost::CallRequest request;
    request.method = c.method;
    request.path = c.path;
    request.contentType = "application/json";
    request.body = c.body;
    const GoxHost::CallResponse response =
        host.Call(c.pathTemplate, c.pathTemplate == kItems ? kHttpMethodGet : kHttpMethodPost, request);
    EXPECT_EQ(response.status, c.status) << c.path;
    EXPECT_EQ(response.error.value_or(response.body.Text()), c.answer) << c.path;
    EXPECT_TRUE(response.released);
  }
  host.Shutdown();
  EXPECT_EQ(host.Problems(), std::vector<std::string>());
  EXPECT_EQ(host.OutstandingResponses(), 0u);
}

}  // namespace
}  // namespace Quarn
