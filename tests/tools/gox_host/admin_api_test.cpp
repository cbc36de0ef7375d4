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

TEST(AdminApiTest, TheLogTailIsServedWithoutThePluginThread) {
  // The tail must answer while the plugin thread is stuck or stopped: it is how a person finds out why.
  PluginThread plugin;
  PluginStandIns standIns("secret");
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  HostLog log(sink);
  log.Warning("first");
  log.WriteModule(2, "bad \xff byte");
  AdminApi admin(plugin, standIns, std::chrono::milliseconds(100), &log);
  const HttpAnswer tail = admin.Handle({"GET", "/admin/log", "", "127.0.0.1"});
  EXPECT_EQ(tail.status, 200);
  EXPECT_NE(tail.body.find("WARN host: first\""), std::string::npos) << tail.body;
  EXPECT_NE(tail.body.find("ERROR module: bad \xEF\xBF\xBD byte"), std::string::npos) << tail.body;
  EXPECT_EQ(admin.Handle({"POST", "/admin/log", "", "127.0.0.1"}).status, 405);
  EXPECT_EQ(admin.Handle({"GET", "/admin/log", "", "10.0.0.5"}).status, 403);
  EXPECT_EQ(AdminApi(plugin, standIns, std::chrono::milliseconds(100))
                .Handle({"GET", "/admin/log", "", "127.0.0.1"})
                .body,
            R"({"lines":[]})");
  std::fclose(sink);
}

}  // namespace
}  // namespace GoxHostApp
