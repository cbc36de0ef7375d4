// The gox-host executable itself: started with the test module, stopped with signals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/module/host_test_module.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;

// A running gox-host with its standard output on a pipe and its standard error in a file.
class HostProcess {
 public:
  explicit HostProcess(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), GOX_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
      argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    errPath_ = "/tmp/gox-host-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + ".log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (posix_spawn(&pid_, GOX_HOST_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  ~HostProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    std::remove(errPath_.c_str());
  }

  // The first line of standard output, waiting at most `timeout`; empty at end of output.
  std::string ReadLine(milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      char c = 0;
      if (read(out_, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
    return line;
  }

  // The exit status, waiting at most `timeout`; -1 when it has not exited by then.
  int Wait(milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return -1;
  }

  void Signal(int signal) const { kill(pid_, signal); }

  [[nodiscard]] std::string ErrorOutput() const {
    std::FILE* file = std::fopen(errPath_.c_str(), "r");
    if (file == nullptr) return {};
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
      text.append(buffer, got);
    std::fclose(file);
    return text;
  }

 private:
  static inline int counter_ = 0;
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string errPath_;
};

int PortOf(const std::string& readyLine) {
  const std::string prefix = "gox-host listening on http://127.0.0.1:";
  if (!readyLine.starts_with(prefix)) return 0;
  return std::stoi(readyLine.substr(prefix.size()));
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
