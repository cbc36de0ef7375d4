// HostCore: a small, real host core that loads plugin modules and drives them, for tests.
//
// Overview
//   The host core is the process that loads a module, owns the resource tree, routes events and does
//   the network access. HostCore is a stand-in for it that tests drive from the plugin thread (the
//   thread that loads the module):
//   - loading: dlopen a module (or take its entry function directly), the registration handshake with
//     a chosen host plugin-API version, Initialize, GetMemoryStats, Shutdown, dlclose;
//   - the API description, read into plain structures (Description()), and calls on the module's
//     endpoints (Call);
//   - HostApi, all ten entries: requests on a resource tree of JSON values and on providers standing in
//     for other plugins (with scriptable streamed answers), outside requests through a pluggable
//     transport, events routed through a queue, yields, waits and the log;
//   - a service-proxy stand-in that answers service-proxy requests later, as events;
//   - records of everything the module did (Calls, SentEvents, Waits, LogLines) and of every rule it
//     broke (Problems), for the tests to inspect.
//
//   Several modules: Load makes a module the only one; AddModule loads another beside those loaded.
//   Each gets its own handshake, HostApi binding and host handle (options.hostHandle for the first,
//   the next numbers for the others); Initialize starts them in the order loaded, Shutdown stops them
//   in the reverse order. ReloadModule replaces one module by a new build in its place, between
//   calls; a new file that fails its handshake leaves the old module serving. They share the
//   resource tree and the events: what one publishes reaches the
//   others' listeners. A request on the resource tree (HostApi.request) whose method and path match an
//   endpoint of a started module goes to that endpoint's call entry with the caller's request record
//   (its context set to the endpoint's, its last word to a request identifier) and the caller's
//   response record, which the callee fills and the caller releases; requests nest at most
//   kMaxNestedRequests deep, so that a module calling itself, or modules calling each other in a
//   cycle, get a failure instead of unbounded recursion. Other paths reach the providers and the tree.
//
//   Events reach listeners only through the queue, and the queue is drained only on the plugin thread:
//   after each top-level call into the module, inside HostApi.yield, and by DeliverPendingEvents. So a
//   module that awaits something is re-entered by events inside its yields, as under the real host.
//
//   Resource events carry the payload structure {uri, eventType, data}; eventType is sent as the
//   enumerator's name text, "Create", "Update" or "Delete".
//
// Example
//   GoxHost::HostCore host;                                   // host plugin-API version 18.0.0
//   host.SetResource("/gox-login/v1/session", GoxHost::JsonValue::Parse(R"({"puuid":"p-1"})").value());
//   host.SetService([](const GoxHost::ServiceCall& call) {
//     GoxHost::ServiceAnswer answer;
//     answer.payload = "{}";
//     answer.delayYields = 2;                                 // answered during the second yield
//     return answer;
//   });
//   if (host.Load("build/default/libgox_loadouts.so") != GoxHost::LoadStatus::kLoaded) return;
//   if (!host.Initialize()) return;                           // the module subscribes and reads
//   host.PublishResource("/gox-gameflow/v1/session",
//   GoxHost::JsonValue::Parse(R"({"phase":"Lobby"})").value()); host.DeliverPendingEvents(); // the module
//   sees the Create event GoxHost::CallRequest request; request.method = kHttpMethodGet; request.path =
//   "/gox-loadouts/v2/items/7/A"; GoxHost::CallResponse items =
//   host.Call("/gox-loadouts/v2/items/{id}/{inventoryType}", kHttpMethodGet, request);
//   EXPECT_EQ(items.status, 200);
//   host.Shutdown();                                          // Shutdown, then dlclose
//   EXPECT_TRUE(host.Problems().empty());

#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/api_description.h"
#include "host/endpoint_call.h"
#include "host/event_router.h"
#include "host/external_transport.h"
#include "host/json_value.h"
#include "host/plugin_loader.h"
#include "host/request_router.h"
#include "host/response_records.h"
#include "host/service_proxy.h"
#include "plugin/plugin_abi.h"

namespace GoxHost {

struct HostOptions {
  HostVersion version;                    // sent in the handshake; 18.0.0 by default
  std::uint32_t hostHandle = 0x48535431;  // handed to the module in HostContext
  bool echoLog = false;                   // also write the module's log lines to standard error
  // Leave the module's library mapped after Shutdown (see PluginLibrary::Open): for a host that runs
  // one module for the life of the process.
  bool keepModuleMapped = false;
  // Open every module's library from a private copy (see PluginLibrary::Open): the file can then be
  // rebuilt or copied over while the module runs, and ReloadModule maps the new file afresh.
  bool loadPrivateCopy = false;
  // Keep the records of calls, waits, log lines and sent events. A long-running host turns this off so
  // that its memory does not grow with every call; problems are then kept up to kMaxKeptProblems.
  bool keepRecords = true;
  // Receives each log line of the module as it arrives, on the thread that logged it.
  std::function<void(std::int32_t level, const std::string& message)> logSink;
  // Receives each problem as it is found.
  std::function<void(const std::string& problem)> problemSink;
};

enum class LoadStatus {
  kLoaded,     // the entry returned 0 and filled the record
  kRefused,    // the entry refused (see LastHandshake())
  kNoLibrary,  // the library or its entry could not be found (see LoadError())
  kConflict,   // the module claims a method and path another module serves (see LoadError())
};

// A module the host has loaded.
struct ModuleInfo {
  std::string name;  // its short name
  std::uint32_t hostHandle = 0;
  bool initialized = false;              // Initialize was called
  bool started = false;                  // and answered success
  std::uint32_t version[3] = {0, 0, 0};  // the plugin-API version it answered in the handshake
  std::string libraryPath;               // the file it was loaded from; empty for a linked entry
  std::uint32_t loads = 1;               // handshakes of a module of this name so far, reloads included
  std::chrono::system_clock::time_point loadedAt;  // of its last handshake
};

// The outcome of ReloadModule.
enum class ReloadStatus {
  kReloaded,    // the new module is initialized and serves in place of the old one
  kNoModule,    // no module of that name is loaded
  kBusy,        // a call into a module is in progress; a reload runs only between calls
  kNoLibrary,   // the file is missing, not a library, or has no entry; the old module serves on
  kRefused,     // the new module refused the handshake; the old module serves on
  kWrongName,   // the new module answered another short name; the old module serves on
  kConflict,    // the new module claims a method and path another module serves; the old serves on
  kNotStarted,  // the old module was shut down and the new one's Initialize failed: the old one's
                // entry was called again and that module serves
  kLeftOut,     // the same, and the old one's Initialize failed too: no module of that name serves
};

struct ReloadResult {
  ReloadStatus status = ReloadStatus::kNoModule;
  std::string message;  // why, for every status but kReloaded
  // Whether a module of that name serves after the reload (the new one, or the old one kept or
  // brought back).
  bool serving = false;
};

// One call of the module into the host: a HostApi entry ("request", "externalRequest", "sendEvent",
// "registerEvent", "unregisterEvent", "reserved5", "yield", "beginWait", "endWait", "log") or a function
// of a record the host filled ("stream.read", "stream.close", "response.release",
// "externalResponse.release"), with a short summary of its arguments.
struct CallRecord {
  std::string entry;
  std::string summary;
};

// One step of the module's waits; depth is the number of open waits after the step.
struct WaitRecord {
  enum class Kind { kBegin, kYield, kEnd };
  Kind kind = Kind::kYield;
  std::string label;  // of kBegin
  std::uint32_t depth = 0;
};

struct LogLine {
  std::int32_t level = 0;
  std::string message;
};

// An event the module sent, with its payload read as JSON.
struct SentEvent {
  std::string name;
  JsonValue payload;
  std::uint32_t flag = 0;
};

enum class ResourceEventType { kCreate, kUpdate, kDelete };

class HostCore : private RecordObserver {
 public:
  explicit HostCore(HostOptions options = {});
  HostCore(const HostCore&) = delete;
  HostCore& operator=(const HostCore&) = delete;
  // Shuts the module down and closes its library when that has not happened yet.
  ~HostCore() override;

  // ---- Loading ----

  // Opens the library and performs the handshake with its entry (see PluginLibrary::Open for the
  // entry's name). Modules still loaded are shut down first.
  [[nodiscard]] LoadStatus Load(const std::string& libraryPath);
  // Performs the handshake with an entry linked into the process.
  [[nodiscard]] LoadStatus Load(PluginLoadEntry entry);
  // The same, keeping the modules loaded so far: the new one comes after them. A module that claims
  // a method and path a loaded module serves is shut down again and answered kConflict, with both
  // names in LoadError().
  [[nodiscard]] LoadStatus AddModule(const std::string& libraryPath);
  [[nodiscard]] LoadStatus AddModule(PluginLoadEntry entry);
  // The handshake of the last Load or AddModule.
  [[nodiscard]] const Handshake& LastHandshake() const { return handshake_; }
  [[nodiscard]] const std::string& LoadError() const { return loadError_; }
  // The API descriptions of the loaded modules, read at load, in one: endpoints, types and events in
  // the order of the modules, each endpoint naming its module. Empty when nothing is loaded.
  [[nodiscard]] const ApiDescription& Description() const { return description_; }
  // The loaded modules in the order loaded.
  [[nodiscard]] std::vector<ModuleInfo> Modules() const;

  // Calls PluginApi.Initialize with each module's HostContext, in the order loaded, for the modules not
  // initialized yet; then delivers the events queued meanwhile. Returns whether every one of them
  // answered success. REQUIRES: a module is loaded.
  [[nodiscard]] bool Initialize();
  // The first module's memory statistics.
  [[nodiscard]] MemoryStats GetMemoryStats();
  // Calls PluginApi.Shutdown of each module, in the reverse order, and closes the libraries. Listeners
  // a module left registered are dropped and reported as problems.
  void Shutdown();
  // Shuts down and closes the module of that short name alone; false when there is none.
  bool ShutdownModule(std::string_view name);
  // Replaces the module of that short name with a new one loaded from `libraryPath` (empty: the
  // file the module was loaded from), in the same place of the load order. The new library's
  // handshake comes first: when it fails, the old module is untouched and serves on. Otherwise the
  // events queued so far are delivered (the old module sees what was meant for it), the old module
  // is shut down and the new one initialized with a new host handle and HostApi table; its
  // subscriptions read the current resources. The old module's table is closed for good, so a late
  // call from its code is refused and reported; its listeners are dropped. The resource tree, the
  // providers and the service stand-in are not touched. When the new module's Initialize fails, it
  // is shut down and the old module's entry is called again (its library is still open), so the old
  // code serves with fresh state (kNotStarted); only when that fails too is the module left out.
  // Only at the top level: inside a call into a module it answers kBusy and changes nothing.
  [[nodiscard]] ReloadResult ReloadModule(std::string_view name, const std::string& libraryPath = {});
  // The same with an entry linked into the process.
  [[nodiscard]] ReloadResult ReloadModule(std::string_view name, PluginLoadEntry entry);
  [[nodiscard]] bool IsLoaded() const { return !modules_.empty(); }

  // ---- Calls on the module's endpoints ----

  // Calls the endpoint and then delivers pending events.
  [[nodiscard]] CallResponse Call(const EndpointInfo& endpoint, const CallRequest& request);
  // The same for the endpoint of that path template and method; a missing endpoint gives a response
  // with status 0 and one problem.
  [[nodiscard]] CallResponse Call(std::string_view pathTemplate, std::uint32_t method,
                                  const CallRequest& request);

  // ---- Resource tree and providers ----

  // Stores a value without announcing it.
  void SetResource(const std::string& path, JsonValue value);
  // Stores a value and queues its change event (Create for a new path, Update otherwise, unless
  // `type` says otherwise).
  void PublishResource(const std::string& path, JsonValue value, std::optional<ResourceEventType> type = {});
  // Removes a value and queues its Delete event (data null).
  void DeleteResource(const std::string& path);
  [[nodiscard]] const JsonValue* Resource(const std::string& path) const {
    return router_.FindResource(path);
  }
  // Serves requests on other paths or methods, standing in for another plugin.
  void AddProvider(ProviderRoute route, Provider provider) {
    router_.AddProvider(std::move(route), std::move(provider));
  }

  // ---- Events ----

  // Queues an event for the listeners of `name`.
  void QueueEvent(const std::string& name, JsonValue payload);
  // Delivers queued events (and the events their delivery queues) until the queue is empty; returns
  // how many were delivered. Only on the plugin thread; elsewhere it delivers nothing and records a
  // problem.
  std::size_t DeliverPendingEvents();
  // Lets the test see every delivered event of that name.
  void Observe(const std::string& name, HostListener listener) { events_.Observe(name, std::move(listener)); }
  // Lets the host see every delivered event.
  void ObserveAll(HostListener listener) { events_.ObserveAll(std::move(listener)); }
  [[nodiscard]] const EventRouter& Events() const { return events_; }
  [[nodiscard]] const std::vector<SentEvent>& SentEvents() const { return sentEvents_; }

  // ---- Other plugins and the outside ----

  void SetService(ServiceFunction service) { serviceProxy_.SetService(std::move(service)); }
  [[nodiscard]] const ServiceProxyStandIn& ServiceProxy() const { return serviceProxy_; }
  // Without a transport every outside request fails with result -1.
  void SetTransport(std::shared_ptr<ExternalTransport> transport) { transport_ = std::move(transport); }

  // Runs `hook` at every yield, before the queue is drained.
  void AddYieldHook(std::function<void()> hook) { yieldHooks_.push_back(std::move(hook)); }
  [[nodiscard]] std::uint64_t YieldCount() const { return yieldCount_; }

  // ---- Records ----

  [[nodiscard]] std::vector<CallRecord> Calls() const;
  // The entries of Calls() alone, in order.
  [[nodiscard]] std::vector<std::string> CallEntries() const;
  [[nodiscard]] const std::vector<WaitRecord>& Waits() const { return waits_; }
  [[nodiscard]] std::vector<LogLine> LogLines() const;
  // Every rule the module broke, and every host call outside Initialize..Shutdown.
  [[nodiscard]] std::vector<std::string> Problems() const;
  // Forgets calls, waits, log lines, sent events and problems.
  void ClearRecords();
  // Records filled for the module and not released by it yet.
  [[nodiscard]] std::size_t OutstandingResponses() const { return OutstandingRecords(this); }

  // The first module's HostContext (the one it would get when loaded now, when none is loaded).
  [[nodiscard]] const HostContext& Context() const;

  // Problems kept when keepRecords is off; later ones reach only the problem sink.
  static constexpr std::size_t kMaxKeptProblems = 1000;
  // Requests between modules in progress at once, nested in each other; one more is refused with
  // status kNestedTooDeepStatus.
  static constexpr std::size_t kMaxNestedRequests = 8;
  static constexpr std::int32_t kNestedTooDeepStatus = 508;

 private:
  friend struct HostApiEntries;
  struct Module;

  // The table handed to a module, followed by its owner and the module: the entries recover both from
  // the table's address.
  struct ApiBinding {
    HostApi table;
    HostCore* core;
    Module* module;
  };

  struct Module {
    // Owned by the HostCore and kept after the module stops, its module pointer then null: a module
    // that calls HostApi after Shutdown reaches a table that still knows it is closed.
    ApiBinding* binding = nullptr;
    HostContext context;
    PluginLibrary library;
    PluginLoadEntry entry = nullptr;
    std::string libraryPath;
    std::uint32_t loads = 1;
    std::chrono::system_clock::time_point loadedAt;
    Handshake handshake;
    ApiDescription description;
    std::string name;
    std::atomic<bool> apiOpen = false;  // HostApi may be called: from Initialize until Shutdown returns
    bool initialized = false;
    bool started = false;
  };

  void OnRecordCall(std::string_view entry, std::string summary) override {
    Record(entry, std::move(summary));
  }
  void OnRecordProblem(std::string message) override { Problem(std::move(message)); }

  LoadStatus FinishLoad(std::unique_ptr<Module> module, PluginLoadEntry entry);
  // The handshake of `entry` into `module`, its name and description; false when it was refused.
  bool ShakeHands(Module& module, PluginLoadEntry entry);
  std::unique_ptr<Module> NewModule();
  // Calls Initialize of one module; whether it answered success.
  bool InitializeModule(Module& module);
  void StopModule(Module& module);
  void RebuildDescription();
  ReloadResult Reload(std::string_view name, std::unique_ptr<Module> fresh, PluginLoadEntry entry);
  // Whether `module` claims a route of another loaded module than `except`.
  [[nodiscard]] std::optional<std::string> ConflictWith(const Module& module,
                                                        const Module* except = nullptr) const;
  [[nodiscard]] Module* ServingModule(const std::string& name) const;
  bool ForwardToModule(Module& caller, PluginResponse* response, const PluginRequest* request,
                       const ProviderRequest& parsed);
  void Record(std::string_view entry, std::string summary);
  void Problem(std::string message);
  bool CheckOpen(const Module* module, std::string_view entry);
  void Drain(std::size_t limit);
  void AfterTopLevelCall();
  void ApplyResourceEvent(const JsonValue& payload);

  // HostApi entries.
  void HandleRequest(Module& caller, PluginResponse* response, const PluginRequest* request);
  void HandleExternalRequest(PluginExternalResponse* response, const PluginExternalRequest* request);
  void HandleSendEvent(const PluginEventRecord* event);
  void HandleRegisterEvent(const Module& module, const char* name, std::uint32_t hostHandle,
                           PluginEventCallback callback, void* context, std::uint32_t flag);
  void HandleUnregisterEvent(const Module& module, const char* name, std::uint32_t hostHandle);
  void HandleYield();
  void HandleBeginWait(const char* label, std::uint32_t flag);
  void HandleEndWait();
  void HandleLog(std::int32_t level, const char* message);

  HostOptions options_;
  HostContext unloadedContext_;  // Context() with nothing loaded
  std::vector<std::unique_ptr<Module>> modules_;
  std::vector<std::unique_ptr<ApiBinding>> bindings_;
  std::uint32_t nextHostHandle_;
  Handshake handshake_;
  std::string loadError_;
  ApiDescription description_;
  int depth_ = 0;                           // calls into the module in progress
  std::vector<std::string> nestedCallees_;  // the modules answering nested requests, outermost first
  std::uint32_t nextNestedRequestId_ = 0x80000000u;
  std::thread::id pluginThread_;

  RequestRouter router_;
  EventRouter events_;
  ServiceProxyStandIn serviceProxy_;
  std::shared_ptr<ExternalTransport> transport_;
  std::vector<std::function<void()>> yieldHooks_;
  std::uint64_t yieldCount_ = 0;

  mutable std::mutex recordMutex_;  // calls, log lines and problems: log may come from any thread
  std::vector<CallRecord> calls_;
  std::vector<LogLine> logLines_;
  std::vector<std::string> problems_;
  std::vector<WaitRecord> waits_;
  std::uint32_t waitDepth_ = 0;
  std::vector<SentEvent> sentEvents_;
};

}  // namespace GoxHost
