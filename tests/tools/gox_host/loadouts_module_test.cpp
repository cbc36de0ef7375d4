// gox-host with the loadouts module itself, over real HTTP on loopback: the front door reaches the plugin's
// endpoints, the plugin reaches a local loadouts service through libcurl, and the admin API switches the
// feature off while it runs.

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/local_http_server.h"
#include "tools/gox_host/host_server.h"

namespace GoxHostApp {
namespace {

TEST(GoxHostLoadoutsTest, EndpointsReachTheServiceAndTheSwitchFollowsTheAdminApi) {
  std::string authorization;
  GoxHostTest::LocalHttpServer service([&](httplib::Server& routes) {
    routes.Post("/loadouts/v3/items/get", [&](const httplib::Request& request, httplib::Response& response) {
      authorization = request.get_header_value("Authorization");
      response.set_content(R"({"EMOTE":[10,11],"BANNER":null})", "application/json");
    });
  });
  const std::string servicesUrl = service.Url("");

  HostServerOptions options;
  options.modulePaths = {GOX_MODULE_PATH, GOX_INVENTORY_MODULE_PATH};
  options.servicesUrl = servicesUrl;
  options.admin = true;
  options.frontDoor.port = 0;
  options.transport.totalTimeoutMs = 2000;
  std::FILE* log = std::tmpfile();
  HostLog hostLog(log);
  HostServer server(options, hostLog);
  ASSERT_EQ(server.Start(), std::nullopt);
  httplib::Client client("127.0.0.1", server.Port());
  client.set_read_timeout(std::chrono::seconds(10));
  const auto get = [&](const char* path) {
    httplib::Result result = client.Get(path);
    return result ? std::to_string(result->status) + " " + result->body : std::string("no answer");
  };

  EXPECT_EQ(get("/gox-loadouts/v1/enabled"), "200 true");
  EXPECT_EQ(get("/gox-loadouts/v2/items/7/EMOTE"), "200 [10,11]");
  EXPECT_TRUE(authorization.starts_with("Bearer ")) << authorization;

  const std::string switchedOff = R"({"InventoryServiceUrl":")" + servicesUrl +
                                  R"(","LoadoutsServiceUrl":")" + servicesUrl + R"(","Enabled":false})";
  httplib::Result put = client.Put("/admin/resources/gox-platform-config/v1/namespaces/Loadouts", switchedOff,
                                   "application/json");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 200);
  EXPECT_EQ(get("/gox-loadouts/v1/enabled"), "200 false");
  EXPECT_EQ(get("/gox-loadouts/v2/items/7/EMOTE"),
            R"(503 {"httpStatus":503,"message":"Loadouts not enabled"})");

  server.Stop();
  std::fclose(log);
}

}  // namespace
}  // namespace GoxHostApp
