// The gox-host executable itself: started with the test module, stopped with signals.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/module/host_test_module.h"

namespace {

using std::chrono::milliseconds;

// A running gox-host with its standard output on a pipe and its standard error in a file.
class HostProcess : public GoxHostTest::ChildProcess {
 public:
  explicit HostProcess(std::vector<std::string> arguments)
      : ChildProcess(GOX_HOST_PATH, std::move(arguments)) {}
};

int PortOf(const std::string& readyLine) {
  return GoxHostTest::PortAfter(readyLine, "gox-host listening on http://127.0.0.1:");
}

TEST(GoxHostProcessTest, SigtermLetsTheCallInFlightFinishThenExitsZero) {
  HostProcess host({"--module", GOX_HOST_TEST_MODULE_PATH, "--listen", "127.0.0.1:0"});
  const std::string ready = host.ReadLine(milliseconds(20000));
  const int port = PortOf(ready);
  ASSERT_GT(port, 0) << ready << "\n" << host.ErrorOutput();

  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(std::chrono::seconds(10));
  ASSERT_EQ(client.Get("/gox-hosttest/v1/echo/1?text=up")->body, R"("1:up")");

  int inFlightStatus = 0;
  std::string inFlightBody;
  std::thread call([&] {
    httplib::Client slow("127.0.0.1", port);
    slow.set_read_timeout(std::chrono::seconds(10));
    if (httplib::Result result = slow.Get("/gox-hosttest/v1/sleep/1500")) {
      inFlightStatus = result->status;
      inFlightBody = result->body;
    }
  });
  // Wait until the module has the call (it logs a line as the call begins), then stop the host.
  for (int i = 0; i < 1000 && host.ErrorOutput().find(GoxHostTestModule::kSleepingLine) == std::string::npos;
       ++i)
    std::this_thread::sleep_for(milliseconds(10));
  host.Signal(SIGTERM);
  call.join();
  EXPECT_EQ(inFlightStatus, 200);
  EXPECT_EQ(inFlightBody, R"("slept")");
  EXPECT_EQ(host.Wait(milliseconds(10000)), 0) << host.ErrorOutput();
  const std::string log = host.ErrorOutput();
  EXPECT_NE(log.find("OKAY host: stopping on SIGTERM"), std::string::npos) << log;
  EXPECT_NE(log.find("OKAY host: stopped"), std::string::npos) << log;
  // The listening socket is gone.
  httplib::Client after("127.0.0.1", port);
  after.set_connection_timeout(std::chrono::seconds(1));
  EXPECT_FALSE(after.Get("/gox-hosttest/v1/phase"));
}

TEST(GoxHostProcessTest, SigintStopsAnIdleHost) {
  HostProcess host({"--module", GOX_HOST_TEST_MODULE_PATH, "--listen", "127.0.0.1:0", "--no-admin"});
  ASSERT_GT(PortOf(host.ReadLine(milliseconds(20000))), 0) << host.ErrorOutput();
  host.Signal(SIGINT);
  EXPECT_EQ(host.Wait(milliseconds(10000)), 0) << host.ErrorOutput();
}

TEST(GoxHostProcessTest, StartFailuresExitNonZeroWithTheReason) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* reason;
  };
  const Case cases[] = {
      {{"--listen", "nowhere"}, 2, "gox-host: bad value for --listen: nowhere"},
      {{"--bogus"}, 2, "gox-host: unknown option --bogus\nusage: gox-host [options]"},
      {{"--module", "/nonexistent/libgox_loadouts.so", "--listen", "127.0.0.1:0"},
       1,
       "/nonexistent/libgox_loadouts.so"},
      {{"--module", GOX_HOST_TEST_MODULE_PATH, "--fixtures", "/nonexistent/fixtures.json"},
       1,
       "could not read the fixtures file /nonexistent/fixtures.json"},
  };
  for (const Case& c : cases) {
    HostProcess host(c.arguments);
    EXPECT_EQ(host.Wait(milliseconds(20000)), c.status) << c.reason;
    EXPECT_NE(host.ErrorOutput().find(c.reason), std::string::npos) << host.ErrorOutput();
  }
}

}  // namespace

namespace GoxHostApp {
namespace {
using std::chrono::milliseconds;

// A second gox-host or gox-services on a port that one already listens on must fail loudly instead
// of sharing the port and taking half the connections.
TEST(ServerProcessesTest, APortInUseIsRefusedWithExitStatusOneAndNoReadyLine) {
  struct Executable {
    const char* path;
    std::vector<std::string> extra;
    const char* ready;
  };
  const Executable executables[] = {
      {GOX_HOST_PATH, {"--module", GOX_HOST_TEST_MODULE_PATH}, "gox-host listening on http://127.0.0.1:"},
      {GOX_SERVICES_PATH, {}, "gox-services listening on http://127.0.0.1:"},
  };
  for (const Executable& executable : executables) {
    std::vector<std::string> first = executable.extra;
    first.insert(first.end(), {"--listen", "127.0.0.1:0"});
    GoxHostTest::ChildProcess running(executable.path, first);
    const int port = GoxHostTest::PortAfter(running.ReadLine(milliseconds(20000)), executable.ready);
    ASSERT_GT(port, 0) << executable.path << "\n" << running.ErrorOutput();
    std::vector<std::string> second = executable.extra;
    second.insert(second.end(), {"--listen", "127.0.0.1:" + std::to_string(port)});
    GoxHostTest::ChildProcess refused(executable.path, second);
    EXPECT_EQ(refused.ReadAll(milliseconds(20000)), "") << executable.path;
    EXPECT_EQ(refused.Wait(milliseconds(10000)), 1) << executable.path;
    EXPECT_NE(refused.ErrorOutput().find("could not listen on 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << refused.ErrorOutput();
    running.Signal(SIGTERM);
    EXPECT_EQ(running.Wait(milliseconds(10000)), 0) << executable.path;
  }
}

}  // namespace
}  // namespace GoxHostApp
