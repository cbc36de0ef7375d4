// PluginThread: the one thread on which gox-host touches the module.
//
// The thread owns the HostCore: it loads the module, performs the handshake and Initialize, and then
// runs tasks that other threads (the HTTP threads) hand it through a queue, one at a time, each
// followed by the delivery of the events it queued. It also serves the queue inside HostApi.yield, so
// that calls, admin changes and service-proxy answers keep flowing while the module awaits something;
// an idle yield waits briefly for work instead of spinning. Stop runs the tasks already queued, then
// Shutdown, and ends the thread.
//
// A reload (Reload) replaces a module while the others serve. It runs only between calls, never
// inside a yield, so no module code of the old module is on the stack when it is shut down; the
// tasks queued after it wait for it, and while it runs its yields serve no task, so no call reaches a
// module that is half shut down or half initialized. Other threads see the modules through
// Snapshot(), refreshed after every reload.
//
//   PluginThread plugin;
//   if (auto error = plugin.Start(options)) ...;
//   GoxHost::CallResponse answer;
//   plugin.Run([&](GoxHost::HostCore& host) { answer = host.Call(endpoint, request); });
//   plugin.Stop();

#pragma once

#include <atomic>
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

// What other threads see of the modules: the description read at load (or at the last reload) and
// the modules serving. A reload publishes a new snapshot; one taken earlier stays valid for its holder.
struct ModuleSnapshot {
  GoxHost::ApiDescription description;
  std::vector<GoxHost::ModuleInfo> modules;  // in load order, with their handshake versions
  std::string shortName;                     // the short names of the modules serving, ", " between
  std::string versionText;                   // the first module's plugin-API version
  std::uint64_t generation = 0;              // one more with every snapshot
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

  // Reloads the module `name` from its file (HostCore::ReloadModule) once the tasks queued before it
  // have run and no call is in progress, waiting at most `timeout`; `result` is filled when the
  // status is kDone. On kTimedOut the reload still happens unless it had not started.
  RunStatus Reload(const std::string& name, std::chrono::milliseconds timeout, GoxHost::ReloadResult& result);
  // Whether a reload is queued or running: tasks queued now wait for it.
  [[nodiscard]] bool ReloadPending() const { return pendingReloads_.load() > 0; }

  // The modules as they are now; non-null from a successful Start until the object is destroyed.
  [[nodiscard]] std::shared_ptr<const ModuleSnapshot> Snapshot() const;

 private:
  struct Job {
    Task task;
    bool betweenCalls = false;  // never run inside a yield
    std::mutex mutex;
    std::condition_variable done;
    bool started = false;
    bool finished = false;
    bool abandoned = false;
  };

  void Main(PluginThreadOptions options);
  // Runs the queued jobs, inside a yield (`nested`) those that may run there; returns how many ran.
  std::size_t RunQueued(GoxHost::HostCore& host, bool nested = false);
  void OnYield(GoxHost::HostCore& host, std::chrono::milliseconds idleWait);
  RunStatus Queue(const std::shared_ptr<Job>& job, std::chrono::milliseconds timeout);
  void Publish(const GoxHost::HostCore& host);

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

  mutable std::mutex snapshotMutex_;
  std::shared_ptr<const ModuleSnapshot> snapshot_;
  std::atomic<int> pendingReloads_ = 0;
  bool switching_ = false;  // a reload is running; only the plugin thread touches it
};

}  // namespace GoxHostApp
