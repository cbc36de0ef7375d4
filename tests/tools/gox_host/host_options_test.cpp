#include "tools/gox_host/host_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace GoxHostApp {
namespace {

TEST(HostOptionsTest, DefaultsAndFlags) {
  const auto defaults = ParseArguments({});
  ASSERT_TRUE(std::holds_alternative<HostServerOptions>(defaults));
  const HostServerOptions& plain = std::get<HostServerOptions>(defaults);
  EXPECT_EQ(plain.frontDoor.host, "127.0.0.1");
  EXPECT_EQ(plain.frontDoor.port, kDefaultPort);
  EXPECT_EQ(plain.frontDoor.http.bodyLimit, 1u << 20);
  EXPECT_TRUE(plain.admin);

  const auto parsed = ParseArguments({"--module",
                                      "/m.so",
                                      "--listen",
                                      "0.0.0.0:0",
                                      "--no-admin",
                                      "--fixtures",
                                      "f.json",
                                      "--body-limit",
                                      "10",
                                      "--read-timeout-ms",
                                      "250",
                                      "--idle-timeout-s",
                                      "2",
                                      "--call-timeout-ms",
                                      "900",
                                      "--connect-timeout-ms",
                                      "50",
                                      "--request-timeout-ms",
                                      "70",
                                      "--services-url",
                                      "http://127.0.0.1:9",
                                      "--access-log"});
  ASSERT_TRUE(std::holds_alternative<HostServerOptions>(parsed)) << std::get<std::string>(parsed);
  const HostServerOptions& options = std::get<HostServerOptions>(parsed);
  EXPECT_EQ(options.modulePaths, std::vector<std::string>{"/m.so"});
  EXPECT_EQ(options.frontDoor.host, "0.0.0.0");
  EXPECT_EQ(options.frontDoor.port, 0);
  EXPECT_FALSE(options.admin);
  EXPECT_EQ(options.fixturesPath, "f.json");
  EXPECT_EQ(options.frontDoor.http.bodyLimit, 10u);
  EXPECT_EQ(options.frontDoor.http.headerTimeout.count(), 250);
  EXPECT_EQ(options.frontDoor.http.idleTimeout.count(), 2000);
  EXPECT_EQ(options.frontDoor.callTimeout.count(), 900);
  EXPECT_EQ(options.transport.connectTimeoutMs, 50);
  EXPECT_EQ(options.transport.totalTimeoutMs, 70);
  EXPECT_EQ(options.servicesUrl, "http://127.0.0.1:9");
  EXPECT_TRUE(options.frontDoor.accessLog);

  const auto ipv6 = ParseArguments({"--listen", "[::1]:8080"});
  ASSERT_TRUE(std::holds_alternative<HostServerOptions>(ipv6));
  EXPECT_EQ(std::get<HostServerOptions>(ipv6).frontDoor.host, "::1");
  EXPECT_TRUE(std::holds_alternative<HelpWanted>(ParseArguments({"--listen", "1:2", "--help"})));
}

TEST(HostOptionsTest, WrongCommandLinesAreRefusedWithTheReason) {
  struct Case {
    std::vector<std::string> arguments;
    const char* error;
  };
  const Case cases[] = {
      {{"--listen"}, "--listen needs a value"},
      {{"--listen", "8080"}, "bad value for --listen: 8080"},
      {{"--listen", "127.0.0.1:65536"}, "bad value for --listen: 127.0.0.1:65536"},
      {{"--listen", "127.0.0.1:80x"}, "bad value for --listen: 127.0.0.1:80x"},
      {{"--body-limit", "0"}, "bad value for --body-limit: 0"},
      {{"--body-limit", "-1"}, "bad value for --body-limit: -1"},
      {{"--read-timeout-ms", "1e3"}, "bad value for --read-timeout-ms: 1e3"},
      {{"--services-url", "ftp://x"}, "bad value for --services-url: ftp://x"},
      {{"--frobnicate", "1"}, "unknown option --frobnicate"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--listen", "127.0.0.1:0", "-x"}, "unknown option -x"},
      {{"--module"}, "--module needs a value"},
      {{"--services-url"}, "--services-url needs a value"},
      {{"stray"}, "unknown argument stray"},
      {{"stray", "more"}, "unknown argument stray"},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseArguments(c.arguments);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.error;
    EXPECT_EQ(std::get<std::string>(parsed), c.error);
  }
}

TEST(HostOptionsTest, TheDefaultModuleLiesNextToTheExecutable) {
  EXPECT_EQ(
      DefaultModulePaths("/opt/gox/bin/gox-host"),
      (std::vector<std::string>{"/opt/gox/bin/libgox_loadouts.so", "/opt/gox/bin/libgox_inventory.so"}));
  EXPECT_EQ(DefaultModulePaths("gox-host"),
            (std::vector<std::string>{"./libgox_loadouts.so", "./libgox_inventory.so"}));
}

}  // namespace
}  // namespace GoxHostApp
