#include "tools/gox_host/admin_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace GoxHostApp {
namespace {

TEST(AdminApiTest, OnlyLoopbackClientsAreServed) {
  // A remote client is refused before anything reaches the plugin thread (which is not even running).
  PluginThread plugin;
  PluginStandIns standIns("secret");
  AdminApi admin(plugin, standIns, std::chrono::milliseconds(100));
  const HttpAnswer refused = admin.Handle({"PUT", "/admin/resources/gox-login/v1/session", "{}", "10.0.0.5"});
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(refused.body, R"({"httpStatus":403,"message":"the admin API answers loopback clients only"})");
  EXPECT_EQ(admin.Handle({"GET", "/admin/game-customization", "", "127.0.0.1"}).status, 503);
}

}  // namespace
}  // namespace GoxHostApp
