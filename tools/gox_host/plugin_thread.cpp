#include "tools/gox_host/plugin_thread.h"

#include <algorithm>
#include <exception>

namespace GoxHostApp {
namespace {

constexpr const char* kRefused = "the module refused to load (entry answered %u)";
constexpr const char* kNotStarted = "the module's Initialize answered failure";
constexpr const char* kNoModule = "no module to load";

}  // namespace

std::optional<std::string> PluginThread::Start(PluginThreadOptions options) {
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this, options = std::move(options)]() mutable { Main(std::move(options)); });
  std::unique_lock lock(startMutex_);
  started_.wait(lock, [&] { return startDone_; });
  if (startError_ && thread_.joinable()) thread_.join();
  return startError_;
}

std::shared_ptr<const ModuleSnapshot> PluginThread::Snapshot() const {
  std::lock_guard lock(snapshotMutex_);
  return snapshot_;
}

void PluginThread::Publish(const GoxHost::HostCore& host) {
  auto snapshot = std::make_shared<ModuleSnapshot>();
  snapshot->description = host.Description();
  snapshot->modules = host.Modules();
  for (const GoxHost::ModuleInfo& module : snapshot->modules)
    snapshot->shortName += (snapshot->shortName.empty() ? "" : ", ") + module.name;
  if (!snapshot->modules.empty()) {
    const std::uint32_t* version = snapshot->modules.front().version;
    snapshot->versionText =
        std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]);
  }
  std::lock_guard lock(snapshotMutex_);
  snapshot->generation = snapshot_ ? snapshot_->generation + 1 : 1;
  snapshot_ = std::move(snapshot);
}

void PluginThread::Main(PluginThreadOptions options) {
  GoxHost::HostCore host(options.host);
  const auto finishStart = [&](std::optional<std::string> error) {
    std::lock_guard lock(startMutex_);
    startError_ = std::move(error);
    startDone_ = true;
    started_.notify_all();
  };
  if (options.prepare) options.prepare(host);
  host.AddYieldHook([this, &host, wait = options.idleYieldWait] { OnYield(host, wait); });
  const auto leaveOut = [&](const std::string& why) {
    if (options.leftOut) options.leftOut(why);
  };
  std::string lastError = kNoModule;
  const auto load = [&](const std::string& label, GoxHost::LoadStatus status) -> std::optional<std::string> {
    if (status == GoxHost::LoadStatus::kConflict) return host.LoadError();
    if (status == GoxHost::LoadStatus::kNoLibrary) {
      lastError = host.LoadError();
      leaveOut(label + ": " + lastError);
    } else if (status == GoxHost::LoadStatus::kRefused) {
      char message[96];
      std::snprintf(message, sizeof message, kRefused, host.LastHandshake().returned);
      lastError = message;
      leaveOut(label + ": " + lastError);
    }
    return std::nullopt;
  };
  if (options.entry != nullptr)
    if (auto conflict = load("the linked entry", host.AddModule(options.entry))) {
      host.Shutdown();
      return finishStart(conflict);
    }
  for (const std::string& path : options.modulePaths)
    if (auto conflict = load(path, host.AddModule(path))) {
      host.Shutdown();
      return finishStart(conflict);
    }
  if (!host.IsLoaded()) return finishStart(lastError);
  {
    std::lock_guard lock(mutex_);
    running_ = true;  // tasks queued from now on are served, also inside the yields of Initialize
  }
  (void)host.Initialize();
  for (const GoxHost::ModuleInfo& module : host.Modules())
    if (!module.started) {
      leaveOut(module.name + ": " + kNotStarted);
      host.ShutdownModule(module.name);
    }
  if (!host.IsLoaded()) {
    {
      std::lock_guard lock(mutex_);
      running_ = false;
    }
    RunQueued(host);
    host.Shutdown();
    return finishStart(std::string(kNotStarted));
  }
  Publish(host);
  finishStart(std::nullopt);

  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty() && stopping_) break;
    }
    RunQueued(host);
    host.DeliverPendingEvents();
  }
  host.Shutdown();
}

std::size_t PluginThread::RunQueued(GoxHost::HostCore& host, bool nested) {
  std::size_t ran = 0;
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      // Inside a yield, a reload stays queued for the top level; the jobs behind it may run.
      const auto next =
          nested ? std::ranges::find_if(queue_, [](const auto& queued) { return !queued->betweenCalls; })
                 : queue_.begin();
      if (next == queue_.end()) return ran;
      job = std::move(*next);
      queue_.erase(next);
    }
    {
      std::lock_guard lock(job->mutex);
      if (job->abandoned) continue;
      job->started = true;
    }
    try {
      job->task(host);
    } catch (const std::exception&) {
      // A task that throws has failed on its own terms; the thread keeps serving.
    }
    {
      std::lock_guard lock(job->mutex);
      job->finished = true;
    }
    job->done.notify_all();
    ++ran;
  }
}

void PluginThread::OnYield(GoxHost::HostCore& host, std::chrono::milliseconds idleWait) {
  if (switching_) {
    // A module awaiting inside its Initialize or Shutdown during a reload: the tasks wait for the
    // switch to end, and the yield does not spin.
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, idleWait, [&] { return stopping_; });
    return;
  }
  if (RunQueued(host, true) > 0 || host.Events().PendingCount() > 0) return;
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, idleWait, [&] { return !queue_.empty() || stopping_; });
  lock.unlock();
  RunQueued(host, true);
}

RunStatus PluginThread::Run(Task task, std::chrono::milliseconds timeout) {
  auto job = std::make_shared<Job>();
  job->task = std::move(task);
  return Queue(job, timeout);
}

RunStatus PluginThread::Reload(const std::string& name, std::chrono::milliseconds timeout,
                               GoxHost::ReloadResult& result) {
  auto shared = std::make_shared<GoxHost::ReloadResult>();
  auto job = std::make_shared<Job>();
  job->betweenCalls = true;
  job->task = [this, name, shared](GoxHost::HostCore& host) {
    struct SwitchEnd {
      PluginThread& thread;
      ~SwitchEnd() {
        thread.switching_ = false;
        --thread.pendingReloads_;
      }
    } end{*this};
    switching_ = true;
    *shared = host.ReloadModule(name);
    Publish(host);
  };
  ++pendingReloads_;
  const RunStatus status = Queue(job, timeout);
  if (status == RunStatus::kStopped) --pendingReloads_;
  if (status == RunStatus::kTimedOut) {
    std::lock_guard lock(job->mutex);
    if (!job->started) --pendingReloads_;  // abandoned: it will not run
  }
  if (status == RunStatus::kDone) result = *shared;
  return status;
}

RunStatus PluginThread::Queue(const std::shared_ptr<Job>& job, std::chrono::milliseconds timeout) {
  {
    std::lock_guard lock(mutex_);
    if (!running_ || stopping_) return RunStatus::kStopped;
    queue_.push_back(job);
  }
  wake_.notify_all();
  std::unique_lock lock(job->mutex);
  if (job->done.wait_for(lock, timeout, [&] { return job->finished; })) return RunStatus::kDone;
  if (!job->started) job->abandoned = true;
  return RunStatus::kTimedOut;
}

bool PluginThread::Post(Task task) {
  auto job = std::make_shared<Job>();
  job->task = std::move(task);
  {
    std::lock_guard lock(mutex_);
    if (!running_ || stopping_) return false;
    queue_.push_back(std::move(job));
  }
  wake_.notify_all();
  return true;
}

void PluginThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    running_ = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace GoxHostApp
