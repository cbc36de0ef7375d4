#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace GoxHostTest {
namespace {

std::atomic<int> counter = 0;

}  // namespace

ChildProcess::ChildProcess(const std::string& path, std::vector<std::string> arguments,
                           const std::vector<std::string>& environment) {
  arguments.insert(arguments.begin(), path);
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables(environment);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    const std::string name(*entry, equals != nullptr ? static_cast<std::size_t>(equals - *entry) : 0);
    bool overridden = false;
    for (const std::string& given : environment)
      overridden = overridden || given.starts_with(name + "=");
    if (!overridden) variables.emplace_back(*entry);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables)
    envp.push_back(variable.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return;
  errPath_ = "/tmp/gox-child-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // A process group of its own, so that what it starts in turn goes with it on destruction.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  if (posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
}

ChildProcess::~ChildProcess() {
  // Until the leader is reaped its id cannot be reused, so the group is still the one it leads.
  if (pid_ > 0 && !exited_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  std::remove(errPath_.c_str());
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
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

std::string ChildProcess::ReadAll(std::chrono::milliseconds timeout) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{out_, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0 && !exited_) kill(pid_, signal);
}

void ChildProcess::SignalGroup(int signal) const {
  if (pid_ > 0 && !exited_) kill(-pid_, signal);
}

std::string ChildProcess::ErrorOutput() const {
  std::FILE* file = std::fopen(errPath_.c_str(), "r");
  if (file == nullptr) return {};
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    text.append(buffer, got);
  std::fclose(file);
  return text;
}

int PortAfter(const std::string& line, const std::string& prefix) {
  if (!line.starts_with(prefix)) return 0;
  try {
    return std::stoi(line.substr(prefix.size()));
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace GoxHostTest
