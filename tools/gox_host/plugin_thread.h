// PluginThread: the one thread on which gox-host touches the module.
//
// The thread owns the HostCore: it loads the module, performs the handshake and Initialize, and then
// runs tasks that other threads (the HTTP threads) hand it through a queue, one at a time, each
// followed by the delivery of the events it queued. It also serves the queue inside HostApi.yield, so
// that calls, admin changes and service-proxy answers keep flowing while the module awaits something;
// an idle yield waits briefly for work instead of spinning. Stop runs the tasks already queued, then
// Shutdown, and ends the thread.
//
//   PluginThread plugin;
//   if (auto error = plugin.Start(options)) ...;
//   GoxHost::CallResponse answer;
//   plugin.Run([&](GoxHost::HostCore& host) { answer = host.Call(endpoint, request); });
//   plugin.Stop();

#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/host_core.h"

namespace GoxHostApp {

struct PluginThreadOptions {
  std::vector<std::string> modulePaths;  // the libraries to load, in order
  PluginLoadEntry entry = nullptr;       // an entry linked into the process, loaded first
  // Told why a module was left out (its handshake or Initialize failed) while others serve.
  std::function<void(const std::string& why)> leftOut;
  GoxHost::HostOptions host;                        // for the HostCore
  std::function<void(GoxHost::HostCore&)> prepare;  // runs on the thread before the module loads
  std::chrono::milliseconds idleYieldWait{1};       // how long an idle yield waits for work
};

enum class RunStatus {
  kDone,      // the task ran
  kTimedOut,  // the wait ended first; the task still runs (or is skipped if it has not started)
  kStopped,   // the thread is stopping or stopped; the task did not run
};

class PluginThread {
 public:
  using Task = std::function<void(GoxHost::HostCore&)>;

  PluginThread() = default;
  PluginThread(const PluginThread&) = delete;
  PluginThread& operator=(const PluginThread&) = delete;
  ~PluginThread() { Stop(); }

  // Starts the thread and waits until the modules are loaded and initialized; the reason when none
  // started, or when two claim the same method and path (the thread has ended then).
  [[nodiscard]] std::optional<std::string> Start(PluginThreadOptions options);

  // Runs `task` on the plugin thread and waits for it, at most `timeout`. The task must own (or share)
  // everything it touches when it may outlive the wait.
  RunStatus Run(Task task, std::chrono::milliseconds timeout = std::chrono::hours(24));

  // Queues `task` for the plugin thread without waiting for it; false (and the task dropped) when the
  // thread is stopping or stopped. The task must own (or share) everything it touches.
  bool Post(Task task);

  // Runs the queued tasks, shuts the module down and ends the thread. Safe to call more than once.
  void Stop();

  // The description read at load; valid from a successful Start until the object is destroyed.
  [[nodiscard]] const GoxHost::ApiDescription& Description() const { return description_; }
  // The short names of the modules serving, separated by ", ".
  [[nodiscard]] const std::string& ShortName() const { return shortName_; }
  // The modules loaded, in load order, with their handshake versions.
  [[nodiscard]] const std::vector<GoxHost::ModuleInfo>& Modules() const { return modules_; }
  [[nodiscard]] std::string VersionText() const;

 private:
  struct Job {
    Task task;
    std::mutex mutex;
    std::condition_variable done;
    bool started = false;
    bool finished = false;
    bool abandoned = false;
  };

  void Main(PluginThreadOptions options);
  // Runs the queued jobs; returns how many ran.
  std::size_t RunQueued(GoxHost::HostCore& host);
  void OnYield(GoxHost::HostCore& host, std::chrono::milliseconds idleWait);

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool stopping_ = false;
  bool running_ = false;  // accepting tasks

  // Filled by the thread before Start returns.
  std::mutex startMutex_;
  std::condition_variable started_;
  bool startDone_ = false;
  std::optional<std::string> startError_;
  GoxHost::ApiDescription description_;
  std::string shortName_;
  std::vector<GoxHost::ModuleInfo> modules_;
  std::uint32_t version_[3] = {0, 0, 0};
};

}  // namespace GoxHostApp
