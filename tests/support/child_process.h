// ChildProcess: an executable the test starts, with its standard output on a pipe (read line by line)
// and its standard error in a file (read whole). It leads a process group of its own, and the group is
// killed on destruction, so that nothing it started outlives the test.
//
//   ChildProcess services(GOX_SERVICES_PATH, {"--listen", "127.0.0.1:0"});
//   const int port = PortAfter(services.ReadLine(std::chrono::seconds(20)), "gox-services listening on "
//                                                                          "http://127.0.0.1:");
//   services.Signal(SIGTERM);
//   EXPECT_EQ(services.Wait(std::chrono::seconds(10)), 0);

#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace GoxHostTest {

class ChildProcess {
 public:
  // Starts `path` with `arguments` (without the program name) and the test's environment plus
  // `environment` ("NAME=value" entries, which win over the inherited ones).
  ChildProcess(const std::string& path, std::vector<std::string> arguments,
               const std::vector<std::string>& environment = {});
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The next line of standard output, waiting at most `timeout`; what was read so far at end of output
  // or when time runs out.
  std::string ReadLine(std::chrono::milliseconds timeout);
  // Everything left on standard output up to its end, waiting at most `timeout`.
  std::string ReadAll(std::chrono::milliseconds timeout);
  // The exit status (128 + signal when a signal ended it), waiting at most `timeout`; -1 when it has not
  // exited by then.
  int Wait(std::chrono::milliseconds timeout);
  void Signal(int signal) const;
  // Sends `signal` to the whole process group it leads, as a supervisor or a script stopping it does.
  void SignalGroup(int signal) const;
  [[nodiscard]] pid_t Pid() const { return pid_; }
  [[nodiscard]] std::string ErrorOutput() const;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string errPath_;
};

// The port number that follows `prefix` at the start of `line`; 0 when the line does not start so.
[[nodiscard]] int PortAfter(const std::string& line, const std::string& prefix);

}  // namespace GoxHostTest
