#include "host/host_core.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <utility>

#include "host/endpoint_match.h"
#include "host/event_name.h"
#include "host/host_value_codec.h"

namespace GoxHost {
namespace {

// Deliveries in one drain before the host decides that events keep producing events.
constexpr std::size_t kMaxDeliveriesPerDrain = 100000;

constexpr const char* kOutsideLifetime = "HostApi.%s called outside Initialize..Shutdown";
constexpr const char* kNullArgument = "HostApi.%s called with a null %s";
constexpr const char* kWrongHandle = "HostApi.%s called with host handle %" PRIu32 " instead of %" PRIu32;
constexpr const char* kBadPayload = "HostApi.sendEvent payload of %s: %s";
constexpr const char* kBadRequest = "HostApi.request: %s";
constexpr const char* kUnbalancedEnd = "HostApi.endWait without an open wait";
constexpr const char* kOpenWaits = "%u waits still open when the call returned";
constexpr const char* kLeftRegistered = "listener still registered at shutdown: %s";
constexpr const char* kEventStorm = "events kept producing events; delivery stopped";
constexpr const char* kWrongThread = "events delivered off the plugin thread were held back";
constexpr const char* kNoEndpoint = "the module has no endpoint %s %s";
constexpr const char* kNotLoaded = "no module is loaded";
constexpr const char* kThrown = "HostApi.%s: the host threw: %s";
constexpr const char* kNoTransport = "no transport installed";
constexpr const char* kBadExternalRequest = "HostApi.externalRequest record has a null %s";
constexpr const char* kSameRoute = "%s and %s both serve %s %s";
constexpr const char* kNoSuchModule = "no module named %s is loaded";
constexpr const char* kReloadBusy = "%s cannot be reloaded inside a call into a module";
constexpr const char* kNoPath = "%s came from a linked entry: a reload needs a library path";
constexpr const char* kReloadRefused = "the new %s refused the handshake (entry answered %" PRIu32 ")";
constexpr const char* kReloadWrongName = "the new file is module %s, not %s";
constexpr const char* kReloadNotStarted =
    "the new %s's Initialize answered failure; the previous one was started again and serves";
constexpr const char* kReloadLeftOut =
    "the new %s's Initialize answered failure, and so did the previous one started again: no %s serves";
constexpr const char* kNestedTooDeep =
    "request %s %s from %s refused: requests between modules nest at most %zu deep (%s)";

const char* const kEventTypeNames[] = {"Create", "Update", "Delete"};

template <class... Arguments>
std::string Format(const char* format, Arguments... arguments) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, arguments...);
  return buffer;
}

}  // namespace

// The plain functions of the HostApi table: each recovers its HostCore from the table's address and
// keeps every exception on the host's side.
struct HostApiEntries {
  template <class Body>
  static void Guard(const HostApi* api, const char* entry, Body body) {
    if (api == nullptr) return;
    const auto* binding = reinterpret_cast<const HostCore::ApiBinding*>(api);
    HostCore* core = binding->core;
    // A closed table (null module) still takes log lines; the entries that use the module are only
    // reached while it is open.
    HostCore::Module* module = binding->module;
    try {
      if (core->CheckOpen(module, entry)) body(*core, module);
    } catch (const std::exception& error) {
      core->Problem(Format(kThrown, entry, error.what()));
    } catch (...) {
      core->Problem(Format(kThrown, entry, "?"));
    }
  }

  static void Request(const HostApi* api, PluginResponse* response, const PluginRequest* request) {
    Guard(api, "request",
          [&](HostCore& core, HostCore::Module* module) { core.HandleRequest(*module, response, request); });
  }
  static void ExternalRequest(const HostApi* api, PluginExternalResponse* response,
                              const PluginExternalRequest* request) {
    Guard(api, "externalRequest",
          [&](HostCore& core, HostCore::Module*) { core.HandleExternalRequest(response, request); });
  }
  static void SendEvent(const HostApi* api, const PluginEventRecord* event) {
    Guard(api, "sendEvent", [&](HostCore& core, HostCore::Module*) { core.HandleSendEvent(event); });
  }
  static void RegisterEvent(const HostApi* api, const char* name, uint32_t hostHandle,
                            PluginEventCallback callback, void* context, uint32_t flag) {
    Guard(api, "registerEvent", [&](HostCore& core, HostCore::Module* module) {
      core.HandleRegisterEvent(*module, name, hostHandle, callback, context, flag);
    });
  }
  static void UnregisterEvent(const HostApi* api, const char* name, uint32_t hostHandle) {
    Guard(api, "unregisterEvent", [&](HostCore& core, HostCore::Module* module) {
      core.HandleUnregisterEvent(*module, name, hostHandle);
    });
  }
  static void Reserved5(const HostApi* api, uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) {
    Guard(api, "reserved5", [&](HostCore& core, HostCore::Module*) {
      core.Record("reserved5", Format("%" PRIu32 " %" PRIu32 " %" PRIu32 " %g %" PRIu32, a, b, c, d, e));
    });
  }
  static void Yield(const HostApi* api) {
    Guard(api, "yield", [&](HostCore& core, HostCore::Module*) { core.HandleYield(); });
  }
  static void BeginWait(const HostApi* api, const char* label, uint32_t flag) {
    Guard(api, "beginWait", [&](HostCore& core, HostCore::Module*) { core.HandleBeginWait(label, flag); });
  }
  static void EndWait(const HostApi* api) {
    Guard(api, "endWait", [&](HostCore& core, HostCore::Module*) { core.HandleEndWait(); });
  }
  static void Log(const HostApi* api, int32_t level, const char* message) {
    Guard(api, "log", [&](HostCore& core, HostCore::Module*) { core.HandleLog(level, message); });
  }
};

namespace {

constexpr HostApi kHostApiTable{&HostApiEntries::Request,         &HostApiEntries::ExternalRequest,
                                &HostApiEntries::SendEvent,       &HostApiEntries::RegisterEvent,
                                &HostApiEntries::UnregisterEvent, &HostApiEntries::Reserved5,
                                &HostApiEntries::Yield,           &HostApiEntries::BeginWait,
                                &HostApiEntries::EndWait,         &HostApiEntries::Log};

}  // namespace

HostCore::HostCore(HostOptions options)
    : options_(options),
      unloadedContext_{&kHostApiTable, options.hostHandle},
      nextHostHandle_(options.hostHandle),
      pluginThread_(std::this_thread::get_id()),
      serviceProxy_(
          options.hostHandle,
          [this](const std::string& name, const JsonValue& payload) {
            events_.Queue(QueuedEvent{name, payload});
          },
          [this](const std::string& name, const JsonValue& payload) {
            ++depth_;
            events_.DeliverNow(QueuedEvent{name, payload});
            --depth_;
          }) {
  AttachObserver(this);
  router_.AddProvider(
      {kServiceProxyUuidPath, kHttpMethodPost, false},
      [this](const ProviderRequest& request) { return serviceProxy_.HandleUuidRequest(request); });
  router_.AddProvider(
      {kServiceProxyMethodPath, kHttpMethodPost, false},
      [this](const ProviderRequest& request) { return serviceProxy_.HandleMethodRequest(request); });
}

HostCore::~HostCore() {
  Shutdown();
  DetachObserver(this);
}

// ---- Loading ----

LoadStatus HostCore::Load(const std::string& libraryPath) {
  Shutdown();
  return AddModule(libraryPath);
}

LoadStatus HostCore::Load(PluginLoadEntry entry) {
  Shutdown();
  return AddModule(entry);
}

std::unique_ptr<HostCore::Module> HostCore::NewModule() {
  auto module = std::make_unique<Module>();
  bindings_.push_back(std::make_unique<ApiBinding>(ApiBinding{kHostApiTable, this, module.get()}));
  module->binding = bindings_.back().get();
  module->context = HostContext{&module->binding->table, nextHostHandle_};
  return module;
}

LoadStatus HostCore::AddModule(const std::string& libraryPath) {
  std::unique_ptr<Module> module = NewModule();
  handshake_ = Handshake{};
  if (!module->library.Open(libraryPath, options_.keepModuleMapped, options_.loadPrivateCopy)) {
    loadError_ = module->library.Error();
    module->binding->module = nullptr;
    return LoadStatus::kNoLibrary;
  }
  module->libraryPath = libraryPath;
  const PluginLoadEntry entry = module->library.Entry();
  return FinishLoad(std::move(module), entry);
}

LoadStatus HostCore::AddModule(PluginLoadEntry entry) {
  handshake_ = Handshake{};
  if (entry == nullptr) {
    loadError_ = kNotLoaded;
    return LoadStatus::kNoLibrary;
  }
  return FinishLoad(NewModule(), entry);
}

bool HostCore::ShakeHands(Module& module, PluginLoadEntry entry) {
  pluginThread_ = std::this_thread::get_id();
  ++depth_;
  handshake_ = PerformHandshake(entry, options_.version);
  --depth_;
  if (!handshake_.Loaded()) return false;
  module.entry = entry;
  module.loadedAt = std::chrono::system_clock::now();
  module.handshake = handshake_;
  module.name = handshake_.record.shortName != nullptr ? handshake_.record.shortName : "";
  module.description = ReadApiDescription(handshake_.record.description);
  for (EndpointInfo& endpoint : module.description.endpoints)
    endpoint.module = module.name;
  return true;
}

LoadStatus HostCore::FinishLoad(std::unique_ptr<Module> module, PluginLoadEntry entry) {
  loadError_.clear();
  if (!ShakeHands(*module, entry)) {
    module->binding->module = nullptr;
    return LoadStatus::kRefused;
  }
  if (std::optional<std::string> conflict = ConflictWith(*module)) {
    loadError_ = std::move(*conflict);
    StopModule(*module);
    return LoadStatus::kConflict;
  }
  for (const std::string& problem : module->description.problems)
    Problem(problem);
  ++nextHostHandle_;
  modules_.push_back(std::move(module));
  RebuildDescription();
  return LoadStatus::kLoaded;
}

std::optional<std::string> HostCore::ConflictWith(const Module& module, const Module* except) const {
  for (const EndpointInfo& endpoint : module.description.endpoints) {
    const std::string key = RouteKey(endpoint);
    for (const auto& other : modules_) {
      if (other.get() == except) continue;
      for (const EndpointInfo& served : other->description.endpoints)
        if (RouteKey(served) == key)
          return Format(kSameRoute, other->name.c_str(), module.name.c_str(),
                        MethodName(endpoint.method, endpoint.customMethod).c_str(), endpoint.path.c_str());
    }
  }
  return std::nullopt;
}

void HostCore::RebuildDescription() {
  description_ = ApiDescription{};
  for (const auto& module : modules_) {
    const ApiDescription& own = module->description;
    description_.endpoints.insert(description_.endpoints.end(), own.endpoints.begin(), own.endpoints.end());
    description_.types.insert(description_.types.end(), own.types.begin(), own.types.end());
    description_.events.insert(description_.events.end(), own.events.begin(), own.events.end());
    description_.problems.insert(description_.problems.end(), own.problems.begin(), own.problems.end());
  }
}

std::vector<ModuleInfo> HostCore::Modules() const {
  std::vector<ModuleInfo> modules;
  for (const auto& module : modules_)
    modules.push_back(ModuleInfo{
        module->name,
        module->context.hostHandle,
        module->initialized,
        module->started,
        {module->handshake.record.major, module->handshake.record.minor, module->handshake.record.patch},
        module->libraryPath,
        module->loads,
        module->loadedAt});
  return modules;
}

const HostContext& HostCore::Context() const {
  return modules_.empty() ? unloadedContext_ : modules_.front()->context;
}

bool HostCore::Initialize() {
  if (modules_.empty()) {
    Problem(kNotLoaded);
    return false;
  }
  bool allStarted = true;
  for (const auto& module : modules_) {
    if (module->initialized) continue;
    allStarted = InitializeModule(*module) && allStarted;
  }
  AfterTopLevelCall();
  return allStarted;
}

bool HostCore::InitializeModule(Module& module) {
  const PluginApi* api = module.handshake.record.api;
  if (api->Initialize == nullptr) {
    Problem(kNotLoaded);
    return false;
  }
  module.apiOpen = true;
  module.initialized = true;
  ++depth_;
  // The record lives only for the call, as a host may keep it: a module must copy what it needs.
  HostContext context = module.context;
  module.started = api->Initialize(module.handshake.record.plugin, &context) != 0;
  auto* const bytes = reinterpret_cast<volatile unsigned char*>(&context);
  for (std::size_t i = 0; i < sizeof context; ++i)
    bytes[i] = 0xA5;
  --depth_;
  return module.started;
}

MemoryStats HostCore::GetMemoryStats() {
  MemoryStats stats{};
  const PluginApi* api = modules_.empty() ? nullptr : modules_.front()->handshake.record.api;
  if (api == nullptr || api->GetMemoryStats == nullptr) {
    Problem(kNotLoaded);
    return stats;
  }
  ++depth_;
  api->GetMemoryStats(modules_.front()->handshake.record.plugin, &stats);
  --depth_;
  AfterTopLevelCall();
  return stats;
}

void HostCore::StopModule(Module& module) {
  const PluginApi* api = module.handshake.record.api;
  if (api != nullptr && api->Shutdown != nullptr) {
    ++depth_;
    api->Shutdown(module.handshake.record.plugin);
    --depth_;
  }
  module.apiOpen = false;
  module.binding->module = nullptr;
  const std::uint32_t handle = module.context.hostHandle;
  for (const std::string& name : events_.RegisteredNames(handle))
    Problem(Format(kLeftRegistered, name.c_str()));
  events_.ClearListeners(handle);
  module.handshake = Handshake{};
  module.library.Close();
}

void HostCore::Shutdown() {
  while (!modules_.empty()) {
    StopModule(*modules_.back());
    modules_.pop_back();
  }
  nextHostHandle_ = options_.hostHandle;
  handshake_ = Handshake{};
  RebuildDescription();
}

bool HostCore::ShutdownModule(std::string_view name) {
  for (auto it = modules_.begin(); it != modules_.end(); ++it) {
    if ((*it)->name != name) continue;
    StopModule(**it);
    modules_.erase(it);
    RebuildDescription();
    return true;
  }
  return false;
}

ReloadResult HostCore::ReloadModule(std::string_view name, const std::string& libraryPath) {
  const auto current =
      std::ranges::find_if(modules_, [&](const auto& module) { return module->name == name; });
  if (current == modules_.end())
    return {ReloadStatus::kNoModule, Format(kNoSuchModule, std::string(name).c_str()), false};
  const std::string path = libraryPath.empty() ? (*current)->libraryPath : libraryPath;
  if (path.empty()) return {ReloadStatus::kNoLibrary, Format(kNoPath, std::string(name).c_str()), true};
  if (depth_ != 0) return {ReloadStatus::kBusy, Format(kReloadBusy, std::string(name).c_str()), true};
  std::unique_ptr<Module> fresh = NewModule();
  if (!fresh->library.Open(path, options_.keepModuleMapped, options_.loadPrivateCopy)) {
    fresh->binding->module = nullptr;
    return {ReloadStatus::kNoLibrary, path + ": " + fresh->library.Error(), true};
  }
  fresh->libraryPath = path;
  const PluginLoadEntry entry = fresh->library.Entry();
  return Reload(name, std::move(fresh), entry);
}

ReloadResult HostCore::ReloadModule(std::string_view name, PluginLoadEntry entry) {
  if (std::ranges::none_of(modules_, [&](const auto& module) { return module->name == name; }))
    return {ReloadStatus::kNoModule, Format(kNoSuchModule, std::string(name).c_str()), false};
  if (depth_ != 0) return {ReloadStatus::kBusy, Format(kReloadBusy, std::string(name).c_str()), true};
  if (entry == nullptr) return {ReloadStatus::kNoLibrary, kNotLoaded, true};
  return Reload(name, NewModule(), entry);
}

ReloadResult HostCore::Reload(std::string_view name, std::unique_ptr<Module> fresh, PluginLoadEntry entry) {
  const std::string label(name);
  const auto slot = std::ranges::find_if(modules_, [&](const auto& module) { return module->name == name; });
  Module& old = **slot;
  // Everything up to the switch leaves the old module serving: a refused module is shut down again
  // (its object was made by the entry) and forgotten.
  const auto refuse = [&](ReloadStatus status, std::string message) {
    if (fresh->handshake.Loaded()) StopModule(*fresh);
    fresh->binding->module = nullptr;
    return ReloadResult{status, std::move(message), true};
  };
  if (!ShakeHands(*fresh, entry))
    return refuse(ReloadStatus::kRefused, Format(kReloadRefused, label.c_str(), handshake_.returned));
  if (fresh->name != name)
    return refuse(ReloadStatus::kWrongName, Format(kReloadWrongName, fresh->name.c_str(), label.c_str()));
  if (std::optional<std::string> conflict = ConflictWith(*fresh, &old))
    return refuse(ReloadStatus::kConflict, std::move(*conflict));
  for (const std::string& problem : fresh->description.problems)
    Problem(problem);

  // The switch. The old library stays open until the end, so that its entry can start it again.
  DeliverPendingEvents();
  const std::unique_ptr<Module> previous = std::move(*slot);
  PluginLibrary previousLibrary = std::move(previous->library);
  StopModule(*previous);
  const auto install = [&](std::unique_ptr<Module> module) {
    module->loads = previous->loads + 1;
    ++nextHostHandle_;
    *slot = std::move(module);
    RebuildDescription();
    const bool started = InitializeModule(**slot);
    AfterTopLevelCall();
    return started;
  };
  if (install(std::move(fresh))) return {ReloadStatus::kReloaded, {}, true};

  // The new module did not start: shut it down and start the old code again.
  StopModule(**slot);
  std::unique_ptr<Module> again = NewModule();
  again->libraryPath = previous->libraryPath;
  again->library = std::move(previousLibrary);
  const bool shook = ShakeHands(*again, previous->entry) && again->name == name;
  if (shook && install(std::move(again)))
    return {ReloadStatus::kNotStarted, Format(kReloadNotStarted, label.c_str()), true};
  if (shook) {
    StopModule(**slot);
  } else {
    if (again->handshake.Loaded()) StopModule(*again);
    again->binding->module = nullptr;
  }
  modules_.erase(slot);
  RebuildDescription();
  return {ReloadStatus::kLeftOut, Format(kReloadLeftOut, label.c_str(), label.c_str()), false};
}

// ---- Calls ----

CallResponse HostCore::Call(const EndpointInfo& endpoint, const CallRequest& request) {
  ++depth_;
  CallResponse response = CallEndpoint(endpoint, request);
  --depth_;
  AfterTopLevelCall();
  return response;
}

CallResponse HostCore::Call(std::string_view pathTemplate, std::uint32_t method, const CallRequest& request) {
  if (const EndpointInfo* endpoint = description_.FindEndpoint(pathTemplate, method))
    return Call(*endpoint, request);
  CallResponse missing;
  missing.problems.push_back(
      Format(kNoEndpoint, MethodName(method).c_str(), std::string(pathTemplate).c_str()));
  return missing;
}

void HostCore::AfterTopLevelCall() {
  if (depth_ == 0 && waitDepth_ != 0) Problem(Format(kOpenWaits, waitDepth_));
  const bool anyOpen =
      std::ranges::any_of(modules_, [](const auto& module) { return module->apiOpen.load(); });
  if (depth_ == 0 && anyOpen) DeliverPendingEvents();
}

// ---- Resources and events ----

void HostCore::SetResource(const std::string& path, JsonValue value) {
  router_.SetResource(path, std::move(value));
}

void HostCore::PublishResource(const std::string& path, JsonValue value,
                               std::optional<ResourceEventType> type) {
  const bool existed = router_.SetResource(path, value);
  const ResourceEventType kind =
      type.value_or(existed ? ResourceEventType::kUpdate : ResourceEventType::kCreate);
  JsonValue payload;
  JsonDocument& document = payload.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("uri", rapidjson::Value(path.c_str(), allocator), allocator);
  document.AddMember("eventType", rapidjson::StringRef(kEventTypeNames[static_cast<int>(kind)]), allocator);
  rapidjson::Value data;
  CopyJson(value.Get(), data, allocator);
  document.AddMember("data", data, allocator);
  QueueEvent(ResourceEventName(path), std::move(payload));
}

void HostCore::DeleteResource(const std::string& path) {
  router_.EraseResource(path);
  PublishResource(path, JsonValue{}, ResourceEventType::kDelete);
  router_.EraseResource(path);
}

void HostCore::QueueEvent(const std::string& name, JsonValue payload) {
  events_.Queue(QueuedEvent{name, std::move(payload)});
}

std::size_t HostCore::DeliverPendingEvents() {
  if (std::this_thread::get_id() != pluginThread_) {
    Problem(kWrongThread);
    return 0;
  }
  ++depth_;
  const std::size_t delivered = events_.Deliver(kMaxDeliveriesPerDrain);
  --depth_;
  if (delivered == kMaxDeliveriesPerDrain && events_.PendingCount() > 0) Problem(kEventStorm);
  return delivered;
}

// Keeps the tree in step with the resource events the module publishes, so that a GET reads what the
// module announced.
void HostCore::ApplyResourceEvent(const JsonValue& payload) {
  const rapidjson::Value& event = payload.Get();
  if (!event.IsObject()) return;
  if (!event.HasMember("uri") || !event["uri"].IsString() || !event.HasMember("eventType")) return;
  const rapidjson::Value& type = event["eventType"];
  const bool deleted = (type.IsString() && std::string_view(type.GetString()) == kEventTypeNames[2]) ||
                       (type.IsInt() && type.GetInt() == 2);
  std::string path = event["uri"].GetString();
  if (!path.starts_with('/')) path.insert(0, "/");
  if (deleted) {
    router_.EraseResource(path);
    return;
  }
  router_.SetResource(path, event.HasMember("data") ? JsonValue(event["data"]) : JsonValue{});
}

// ---- HostApi entries ----

bool HostCore::CheckOpen(const Module* module, std::string_view entry) {
  if (module != nullptr && module->apiOpen) return true;
  Problem(Format(kOutsideLifetime, std::string(entry).c_str()));
  return entry == "log";
}

void HostCore::HandleRequest(Module& caller, PluginResponse* response, const PluginRequest* request) {
  if (response == nullptr || request == nullptr) {
    Problem(Format(kNullArgument, "request", response == nullptr ? "response" : "request"));
    return;
  }
  ProviderRequest parsed;
  const std::optional<std::string> error = ReadRequest(*request, parsed);
  Record("request", MethodName(parsed.method, parsed.customMethod) + " " + parsed.path + " (" +
                        std::to_string(parsed.positional.size() + parsed.named.size()) + " parameters)");
  if (error) {
    Problem(Format(kBadRequest, error->c_str()));
    FillResponse(*response, ProviderAnswer::Error(400, *error), this);
    return;
  }
  if (parsed.hostHandle != caller.context.hostHandle)
    Problem(Format(kWrongHandle, "request", parsed.hostHandle, caller.context.hostHandle));
  if (ForwardToModule(caller, response, request, parsed)) return;
  FillResponse(*response, router_.Route(parsed), this);
}

HostCore::Module* HostCore::ServingModule(const std::string& name) const {
  for (const auto& module : modules_)
    if (module->name == name && module->started && module->apiOpen) return module.get();
  return nullptr;
}

// The caller's records go to the callee as they are: the request with the endpoint's context and a
// request identifier in place of the host handle, the response for the callee to fill. The callee's
// release function is in the response, so the caller's release of it reaches the callee.
bool HostCore::ForwardToModule(Module& caller, PluginResponse* response, const PluginRequest* request,
                               const ProviderRequest& parsed) {
  std::string_view path = parsed.path;
  path = path.substr(0, path.find('?'));
  const EndpointInfo* endpoint =
      FindEndpoint(description_, parsed.method, parsed.customMethod, path, nullptr);
  if (endpoint == nullptr || endpoint->call == nullptr || ServingModule(endpoint->module) == nullptr)
    return false;
  const std::string method = MethodName(parsed.method, parsed.customMethod);
  if (nestedCallees_.size() >= kMaxNestedRequests) {
    std::string chain = caller.name;
    for (auto callee = nestedCallees_.rbegin(); callee != nestedCallees_.rend(); ++callee)
      chain.insert(0, *callee + " -> ");
    chain.append(" -> " + endpoint->module);
    Record("request.refused", method + " " + parsed.path);
    FillResponse(*response,
                 ProviderAnswer::Error(kNestedTooDeepStatus,
                                       Format(kNestedTooDeep, method.c_str(), parsed.path.c_str(),
                                              caller.name.c_str(), kMaxNestedRequests, chain.c_str())),
                 this);
    return true;
  }
  Record("request.forward", method + " " + parsed.path + " to " + endpoint->module);
  PluginRequest forwarded = *request;
  forwarded.context = endpoint->context;
  forwarded.handleOrRequestId = nextNestedRequestId_++;
  nestedCallees_.push_back(endpoint->module);
  ++depth_;
  endpoint->call(response, &forwarded);
  --depth_;
  nestedCallees_.pop_back();
  return true;
}

void HostCore::HandleExternalRequest(PluginExternalResponse* response, const PluginExternalRequest* request) {
  if (response == nullptr || request == nullptr) {
    Problem(Format(kNullArgument, "externalRequest", response == nullptr ? "response" : "request"));
    return;
  }
  ExternalCall call;
  call.method = request->method;
  call.value = request->value;
  call.flag = request->flag;
  std::optional<std::string> broken;
  if (request->url == nullptr) broken = "url";
  if (request->headerCount > 0 && request->headers == nullptr) broken = "header array";
  if (request->bodyLength > 0 && request->body == nullptr) broken = "body";
  for (std::uint32_t i = 0; !broken && i < request->headerCount; ++i) {
    const char* name = request->headers[2 * i];
    const char* value = request->headers[2 * i + 1];
    if (name == nullptr || value == nullptr) {
      broken = "header text";
    } else {
      call.headers.emplace_back(name, value);
    }
  }
  if (!broken) {
    call.url = request->url;
    if (request->bodyLength > 0)
      call.body.assign(static_cast<const char*>(request->body), request->bodyLength);
  }
  Record("externalRequest", MethodName(call.method) + " " + call.url);
  if (broken) {
    Problem(Format(kBadExternalRequest, broken->c_str()));
    FillExternalResponse(*response, ExternalResult{-1, 0, {}, Format(kBadExternalRequest, broken->c_str())},
                         this);
    return;
  }
  const ExternalResult result = transport_ ? transport_->Send(call) : ExternalResult{-1, 0, {}, kNoTransport};
  FillExternalResponse(*response, result, this);
}

void HostCore::HandleSendEvent(const PluginEventRecord* event) {
  if (event == nullptr || event->name == nullptr) {
    Problem(Format(kNullArgument, "sendEvent", event == nullptr ? "event" : "event name"));
    return;
  }
  const std::string name = event->name;
  Record("sendEvent", name);
  HostValueReading payload = FromHostValue(event->payload);
  if (!payload.value) {
    Problem(Format(kBadPayload, name.c_str(), payload.error.c_str()));
    return;
  }
  if (options_.keepRecords) sentEvents_.push_back(SentEvent{name, *payload.value, event->flag});
  if (name.starts_with("OnJsonApiEvent")) ApplyResourceEvent(*payload.value);
  events_.Queue(QueuedEvent{name, std::move(*payload.value)});
}

void HostCore::HandleRegisterEvent(const Module& module, const char* name, std::uint32_t hostHandle,
                                   PluginEventCallback callback, void* context, std::uint32_t flag) {
  if (name == nullptr || callback == nullptr) {
    Problem(Format(kNullArgument, "registerEvent", name == nullptr ? "name" : "callback"));
    return;
  }
  Record("registerEvent", std::string(name) + " flag " + std::to_string(flag));
  if (hostHandle != module.context.hostHandle)
    Problem(Format(kWrongHandle, "registerEvent", hostHandle, module.context.hostHandle));
  events_.Register(name, hostHandle, PluginListener{callback, context, flag});
}

void HostCore::HandleUnregisterEvent(const Module& module, const char* name, std::uint32_t hostHandle) {
  if (name == nullptr) {
    Problem(Format(kNullArgument, "unregisterEvent", "name"));
    return;
  }
  Record("unregisterEvent", name);
  if (hostHandle != module.context.hostHandle)
    Problem(Format(kWrongHandle, "unregisterEvent", hostHandle, module.context.hostHandle));
  events_.Unregister(name, hostHandle);
}

void HostCore::HandleYield() {
  Record("yield", {});
  ++yieldCount_;
  if (options_.keepRecords) waits_.push_back(WaitRecord{WaitRecord::Kind::kYield, {}, waitDepth_});
  const std::vector<std::function<void()>> hooks = yieldHooks_;
  for (const auto& hook : hooks)
    hook();
  serviceProxy_.OnYield();
  // Only what is queued now: events that these deliveries queue wait for the next yield.
  ++depth_;
  events_.Deliver(events_.PendingCount());
  --depth_;
}

void HostCore::HandleBeginWait(const char* label, std::uint32_t flag) {
  const std::string text = label != nullptr ? label : "";
  if (label == nullptr) Problem(Format(kNullArgument, "beginWait", "label"));
  Record("beginWait", text + (flag != 0 ? " flag " + std::to_string(flag) : ""));
  ++waitDepth_;
  if (options_.keepRecords) waits_.push_back(WaitRecord{WaitRecord::Kind::kBegin, text, waitDepth_});
}

void HostCore::HandleEndWait() {
  Record("endWait", {});
  if (waitDepth_ == 0) {
    Problem(kUnbalancedEnd);
    return;
  }
  --waitDepth_;
  if (options_.keepRecords) waits_.push_back(WaitRecord{WaitRecord::Kind::kEnd, {}, waitDepth_});
}

void HostCore::HandleLog(std::int32_t level, const char* message) {
  const std::string text = message != nullptr ? message : "";
  if (message == nullptr) Problem(Format(kNullArgument, "log", "message"));
  Record("log", std::to_string(level) + ": " + text);
  if (options_.keepRecords) {
    std::lock_guard lock(recordMutex_);
    logLines_.push_back(LogLine{level, text});
  }
  if (options_.logSink) options_.logSink(level, text);
  if (options_.echoLog) std::fprintf(stderr, "[module %d] %s\n", level, text.c_str());
}

// ---- Records ----

void HostCore::Record(std::string_view entry, std::string summary) {
  if (!options_.keepRecords) return;
  std::lock_guard lock(recordMutex_);
  calls_.push_back(CallRecord{std::string(entry), std::move(summary)});
}

void HostCore::Problem(std::string message) {
  if (options_.problemSink) options_.problemSink(message);
  std::lock_guard lock(recordMutex_);
  if (!options_.keepRecords && problems_.size() >= kMaxKeptProblems) return;
  problems_.push_back(std::move(message));
}

std::vector<CallRecord> HostCore::Calls() const {
  std::lock_guard lock(recordMutex_);
  return calls_;
}

std::vector<std::string> HostCore::CallEntries() const {
  std::lock_guard lock(recordMutex_);
  std::vector<std::string> entries;
  for (const CallRecord& call : calls_)
    entries.push_back(call.entry);
  return entries;
}

std::vector<LogLine> HostCore::LogLines() const {
  std::lock_guard lock(recordMutex_);
  return logLines_;
}

std::vector<std::string> HostCore::Problems() const {
  std::lock_guard lock(recordMutex_);
  return problems_;
}

void HostCore::ClearRecords() {
  std::lock_guard lock(recordMutex_);
  calls_.clear();
  logLines_.clear();
  problems_.clear();
  waits_.clear();
  sentEvents_.clear();
}

}  // namespace GoxHost
