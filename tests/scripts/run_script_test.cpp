// A newcomer's first steps: scripts/run, then each curl line it prints, as printed.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace {

using GoxHostTest::ChildProcess;
using std::chrono::milliseconds;

constexpr const char* kReadyLine = "gox-loadouts is running; Ctrl-C stops both.";

std::string BuildDir() {
  const std::string host = GOX_HOST_PATH;
  return host.substr(0, host.rfind('/'));
}

// A printed line run by the shell, as a user would paste it: its output and exit status.
std::pair<std::string, int> RunLine(const std::string& line) {
  ChildProcess shell("/bin/bash", {"-c", line});
  std::string output = shell.ReadAll(milliseconds(20000));
  return {output, shell.Wait(milliseconds(20000))};
}

TEST(RunScriptTest, StartsBothPrintsWorkingCurlLinesAndStopsOnCtrlC) {
  ChildProcess run(
      "/bin/bash", {std::string(GOX_SOURCE_DIR) + "/scripts/run"},
      {"GOX_BUILD_DIR=" + BuildDir(), "GOX_HOST_LISTEN=127.0.0.1:0", "GOX_SERVICES_LISTEN=127.0.0.1:0"});
  std::vector<std::string> curls;
  std::string hostUrl;
  std::string printed;
  for (int i = 0; i < 100; ++i) {
    const std::string line = run.ReadLine(milliseconds(60000));
    printed += line + "\n";
    if (line == kReadyLine) break;
    if (line.starts_with("curl ")) curls.push_back(line);
    if (line.starts_with("gox-host ")) hostUrl = line.substr(line.find("http://"));
  }
  ASSERT_NE(printed.find(kReadyLine), std::string::npos) << printed << run.ErrorOutput();
  ASSERT_EQ(curls.size(), 7u) << printed;
  ASSERT_NE(curls[0].find("/events"), std::string::npos) << curls[0];
  ASSERT_TRUE(hostUrl.starts_with("http://127.0.0.1:")) << printed;
  // The README's "Try it" table shows the same lines, on the default port.
  std::ifstream readmeFile(std::string(GOX_SOURCE_DIR) + "/README.md");
  const std::string readme((std::istreambuf_iterator<char>(readmeFile)), std::istreambuf_iterator<char>());
  for (std::string line : curls) {
    for (std::size_t at = line.find(hostUrl); at != std::string::npos; at = line.find(hostUrl))
      line.replace(at, hostUrl.size(), "http://127.0.0.1:8090");
    EXPECT_NE(readme.find("| `" + line + "` |"), std::string::npos) << "not in the README: " << line;
  }

  // The event stream runs beside the other lines.
  ChildProcess events("/bin/bash", {"-c", curls[0]});
  std::this_thread::sleep_for(milliseconds(200));

  const auto inventory = RunLine(curls[1]);
  EXPECT_EQ(inventory.second, 0);
  EXPECT_NE(inventory.first.find(R"({"inventoryType":"EMOTE","itemId":10})"), std::string::npos)
      << inventory.first;
  EXPECT_EQ(RunLine(curls[2]), std::make_pair(std::string(), 0));
  EXPECT_EQ(RunLine(curls[3]), std::make_pair(std::string("[10]"), 0));
  const auto champSelect = RunLine(curls[4]);
  EXPECT_EQ(champSelect.second, 0);
  EXPECT_NE(champSelect.first.find(R"("eventType":"Update")"), std::string::npos) << champSelect.first;
  // The injection runs on the plugin thread after the change: ask until it shows.
  std::pair<std::string, int> customization;
  for (int i = 0; i < 100; ++i) {
    customization = RunLine(curls[5]);
    if (customization.first.find(R"("accepted":true)") != std::string::npos) break;
    std::this_thread::sleep_for(milliseconds(50));
  }
  EXPECT_NE(customization.first.find(R"("accepted":true)"), std::string::npos) << customization.first;
  EXPECT_EQ(RunLine(curls[6]), std::make_pair(std::string(), 0));

  std::string stream;
  for (int i = 0; i < 200 && stream.find("ChampSelect") == std::string::npos; ++i)
    stream += events.ReadLine(milliseconds(100)) + "\n";
  EXPECT_NE(stream.find("data: "), std::string::npos) << stream;
  EXPECT_NE(stream.find("ChampSelect"), std::string::npos) << stream;

  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(milliseconds(20000)), 0) << run.ErrorOutput();
  EXPECT_NE(run.ReadAll(milliseconds(2000)).find("run: stopped"), std::string::npos);
  // Both are gone: the host's port answers no more.
  const std::string hostPort = hostUrl.substr(hostUrl.rfind(':') + 1);
  httplib::Client after("127.0.0.1", std::stoi(hostPort));
  after.set_connection_timeout(std::chrono::seconds(1));
  EXPECT_FALSE(after.Get("/gox-loadouts/v1/enabled"));
}

// A script or a supervisor starts scripts/run without job control, so the shell running it ignores
// SIGINT from the start, and stops it with a signal to the whole process group.
TEST(RunScriptTest, ASignalToTheProcessGroupIsANormalStop) {
  for (const int signal : {SIGINT, SIGTERM}) {
    ChildProcess starter(
        "/bin/bash",
        {"-c", R"("$0" & run=$!; trap '' INT TERM; wait "$run"; echo "run exited $?")",
         std::string(GOX_SOURCE_DIR) + "/scripts/run"},
        {"GOX_BUILD_DIR=" + BuildDir(), "GOX_HOST_LISTEN=127.0.0.1:0", "GOX_SERVICES_LISTEN=127.0.0.1:0"});
    std::string printed;
    for (int i = 0; i < 100 && printed.find(kReadyLine) == std::string::npos; ++i)
      printed += starter.ReadLine(milliseconds(60000)) + "\n";
    ASSERT_NE(printed.find(kReadyLine), std::string::npos) << printed << starter.ErrorOutput();

    starter.SignalGroup(signal);
    const std::string rest = starter.ReadAll(milliseconds(20000));
    EXPECT_EQ(starter.Wait(milliseconds(20000)), 0) << signal;
    EXPECT_NE(rest.find("run: stopped"), std::string::npos) << signal << ": " << rest;
    EXPECT_NE(rest.find("run exited 0"), std::string::npos) << signal << ": " << rest;
    EXPECT_EQ(starter.ErrorOutput().find("ended on its own"), std::string::npos) << starter.ErrorOutput();
  }
}

// A child that dies leaves its last log lines on the terminal, since the logs go with the run.
TEST(RunScriptTest, AChildThatEndsOnItsOwnShowsTheEndOfItsLog) {
  ChildProcess run(
      "/bin/bash", {std::string(GOX_SOURCE_DIR) + "/scripts/run"},
      {"GOX_BUILD_DIR=" + BuildDir(), "GOX_HOST_LISTEN=127.0.0.1:0", "GOX_SERVICES_LISTEN=127.0.0.1:0"});
  std::string printed;
  for (int i = 0; i < 100 && printed.find(kReadyLine) == std::string::npos; ++i)
    printed += run.ReadLine(milliseconds(60000)) + "\n";
  ASSERT_NE(printed.find(kReadyLine), std::string::npos) << printed << run.ErrorOutput();
  // The run's own children are the two servers; kill gox-host by its id.
  const auto killed = RunLine("pkill -KILL -P " + std::to_string(run.Pid()) + " -x gox-host; echo $?");
  ASSERT_EQ(killed.first, "0\n");
  EXPECT_EQ(run.Wait(milliseconds(20000)), 1);
  const std::string errors = run.ErrorOutput();
  EXPECT_NE(errors.find("run: gox-host ended on its own (exit status 137)"), std::string::npos) << errors;
  EXPECT_NE(errors.find("OKAY host: module"), std::string::npos) << errors;
}

}  // namespace
