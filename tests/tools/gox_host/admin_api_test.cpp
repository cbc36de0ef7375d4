#include "tools/gox_host/admin_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace GoxHostApp {
namespace {

TEST(AdminApiTest, OnlyLoopbackClientsAreServed) {
  struct Case {
    const char* address;
    bool loopback;
  };
  const Case cases[] = {{"127.0.0.1", true},        {"127.1.2.3", true}, {"::1", true},
                        {"::ffff:127.0.0.1", true}, {"10.0.0.5", false}, {"::ffff:10.0.0.5", false},
                        {"1127.0.0.1", false},      {"fe80::1", false},  {"", false}};
  for (const Case& c : cases)
    EXPECT_EQ(IsLoopback(c.address), c.loopback) << c.address;

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
