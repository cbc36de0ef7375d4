#include "tools/gox_host/admin_api.h"

#include <chrono>
#include <memory>

#include "tools/common/listen_address.h"
#include "tools/gox_host/host_log.h"

namespace GoxHostApp {
namespace {

constexpr const char* kResourcesPrefix = "/admin/resources/";
constexpr const char* kGameCustomizationPath = "/admin/game-customization";
constexpr const char* kLogPath = "/admin/log";
constexpr const char* kModulesPath = "/admin/modules";
constexpr const char* kModulesPrefix = "/admin/modules/";
constexpr const char* kReloadSuffix = "/reload";

constexpr const char* kNotLoopback = "the admin API answers loopback clients only";
constexpr const char* kNoSuchAdminPath = "no admin resource %s";
constexpr const char* kWrongMethod = "%s is not allowed on %s";
constexpr const char* kBadBody = "the body must be one JSON value";
constexpr const char* kNoResource = "no resource at %s";
constexpr const char* kBusy = "the plugin thread did not answer in time";
constexpr const char* kStopping = "gox-host is shutting down";
constexpr const char* kReloadBusy = "the plugin thread did not get to the reload in time";
constexpr const char* kReloaded = "reloaded %s from %s (load %u; %s)";
constexpr const char* kReloadKept = "reload of %s refused, the running module serves on (%s): %s";
constexpr const char* kReloadFailed = "reload of %s failed (%s): %s";

struct Outcome {
  const char* word;
  int status;
};

Outcome OutcomeOf(GoxHost::ReloadStatus status) {
  switch (status) {
    case GoxHost::ReloadStatus::kReloaded:
      return {"reloaded", 200};
    case GoxHost::ReloadStatus::kNoModule:
      return {"no-module", 404};
    case GoxHost::ReloadStatus::kBusy:
      return {"busy", 409};
    case GoxHost::ReloadStatus::kNoLibrary:
      return {"no-library", 422};
    case GoxHost::ReloadStatus::kRefused:
      return {"refused", 422};
    case GoxHost::ReloadStatus::kWrongName:
      return {"wrong-name", 422};
    case GoxHost::ReloadStatus::kConflict:
      return {"conflict", 422};
    case GoxHost::ReloadStatus::kNotStarted:
      return {"not-started", 500};
    case GoxHost::ReloadStatus::kLeftOut:
      break;
  }
  return {"left-out", 500};
}

rapidjson::Value Text(const std::string& text, rapidjson::MemoryPoolAllocator<>& allocator) {
  return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

std::string ChangeJson(const std::string& path, const char* eventType) {
  GoxHost::JsonValue change;
  GoxHost::JsonDocument& document = change.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("uri",
                     rapidjson::Value(path.c_str(), static_cast<rapidjson::SizeType>(path.size()), allocator),
                     allocator);
  document.AddMember("eventType", rapidjson::StringRef(eventType), allocator);
  return change.Text();
}

}  // namespace

HttpAnswer AdminApi::Handle(const AdminRequest& request) {
  if (!GoxTools::IsLoopbackAddress(request.remoteAddr)) return FailureAnswer(403, kNotLoopback);
  if (request.path.starts_with(kResourcesPrefix) &&
      request.path.size() > std::string_view(kResourcesPrefix).size())
    return Resource(request, request.path.substr(std::string_view(kResourcesPrefix).size() - 1));
  if (request.path == kGameCustomizationPath) {
    if (request.method != "GET")
      return FailureAnswer(405, FormatText(kWrongMethod, request.method.c_str(), request.path.c_str()));
    auto answer = std::make_shared<HttpAnswer>();
    return AnswerOnPluginThread(
        plugin_, timeout_,
        [this, answer](GoxHost::HostCore&) {
          *answer = JsonAnswer(standIns_.GameCustomizationJson().Text());
        },
        answer);
  }
  if (request.path.starts_with(kModulesPrefix) && request.path.ends_with(kReloadSuffix))
    return Reload(request);
  if (request.path == kLogPath || request.path == kModulesPath) {
    if (request.method != "GET")
      return FailureAnswer(405, FormatText(kWrongMethod, request.method.c_str(), request.path.c_str()));
    return request.path == kLogPath ? LogTail() : Modules();
  }
  return FailureAnswer(404, FormatText(kNoSuchAdminPath, request.path.c_str()));
}

HttpAnswer AdminApi::LogTail() {
  GoxHost::JsonValue tail;
  GoxHost::JsonDocument& document = tail.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  rapidjson::Value lines(rapidjson::kArrayType);
  if (log_ != nullptr)
    for (const std::string& line : log_->Tail())
      lines.PushBack(Text(ValidUtf8(line), allocator), allocator);
  document.AddMember("lines", lines, allocator);
  return JsonAnswer(tail.Text());
}

HttpAnswer AdminApi::Modules() {
  GoxHost::JsonValue modules;
  GoxHost::JsonDocument& document = modules.Edit();
  auto& allocator = document.GetAllocator();
  document.SetArray();
  const std::shared_ptr<const ModuleSnapshot> snapshot = plugin_.Snapshot();
  for (const GoxHost::ModuleInfo& loaded : snapshot->modules) {
    const std::string version = std::to_string(loaded.version[0]) + "." + std::to_string(loaded.version[1]) +
                                "." + std::to_string(loaded.version[2]);
    rapidjson::Value module(rapidjson::kObjectType);
    module.AddMember("name", Text(loaded.name, allocator), allocator);
    module.AddMember("version", Text(version, allocator), allocator);
    module.AddMember("serving", loaded.started, allocator);
    module.AddMember("file", Text(ValidUtf8(loaded.libraryPath), allocator), allocator);
    module.AddMember("loads", loaded.loads, allocator);
    module.AddMember("loadedAt",
                     Text(FormatTimestamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              loaded.loadedAt.time_since_epoch())
                                              .count()),
                          allocator),
                     allocator);
    document.PushBack(module, allocator);
  }
  return JsonAnswer(modules.Text());
}

HttpAnswer AdminApi::Reload(const AdminRequest& request) {
  const std::size_t start = std::string_view(kModulesPrefix).size();
  const std::size_t end = request.path.size() - std::string_view(kReloadSuffix).size();
  const std::string name = end > start ? request.path.substr(start, end - start) : std::string();
  if (name.empty() || name.find('/') != std::string::npos)
    return FailureAnswer(404, FormatText(kNoSuchAdminPath, request.path.c_str()));
  if (request.method != "POST")
    return FailureAnswer(405, FormatText(kWrongMethod, request.method.c_str(), request.path.c_str()));
  return ReloadModuleAndReport(plugin_, log_, name, timeout_, "admin API");
}

HttpAnswer ReloadModuleAndReport(PluginThread& plugin, HostLog* log, const std::string& name,
                                 std::chrono::milliseconds timeout, std::string_view cause) {
  GoxHost::ReloadResult result;
  switch (plugin.Reload(name, timeout, result)) {
    case RunStatus::kDone:
      break;
    case RunStatus::kTimedOut:
      return FailureAnswer(504, kReloadBusy);
    case RunStatus::kStopped:
      return FailureAnswer(503, kStopping);
  }
  const Outcome outcome = OutcomeOf(result.status);
  const std::string causeText(cause);
  std::uint32_t loads = 0;
  std::string file;
  const std::shared_ptr<const ModuleSnapshot> snapshot = plugin.Snapshot();
  for (const GoxHost::ModuleInfo& module : snapshot->modules)
    if (module.name == name) {
      loads = module.loads;
      file = module.libraryPath;
    }
  if (log != nullptr) {
    if (outcome.status == 200) {
      log->Info(FormatText(kReloaded, name.c_str(), file.c_str(), loads, causeText.c_str()));
    } else if (outcome.status == 422) {
      log->Warning(FormatText(kReloadKept, name.c_str(), causeText.c_str(), result.message.c_str()));
    } else {
      log->Error(FormatText(kReloadFailed, name.c_str(), causeText.c_str(), result.message.c_str()));
    }
  }
  GoxHost::JsonValue answer;
  GoxHost::JsonDocument& document = answer.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  if (outcome.status != 200) document.AddMember("httpStatus", outcome.status, allocator);
  document.AddMember("name", Text(ValidUtf8(name), allocator), allocator);
  document.AddMember("outcome", rapidjson::StringRef(outcome.word), allocator);
  document.AddMember("reloaded", result.status == GoxHost::ReloadStatus::kReloaded, allocator);
  document.AddMember("serving", result.serving, allocator);
  const std::string message =
      result.message.empty() ? FormatText(kReloaded, name.c_str(), file.c_str(), loads, causeText.c_str())
                             : result.message;
  document.AddMember("message", Text(ValidUtf8(message), allocator), allocator);
  document.AddMember("loads", loads, allocator);
  return JsonAnswer(answer.Text(), outcome.status);
}

HttpAnswer AdminApi::Resource(const AdminRequest& request, const std::string& path) {
  // Each task gets its answer through shared state, since a task that starts late may outlive the wait.
  auto answer = std::make_shared<HttpAnswer>();
  if (request.method == "PUT") {
    std::optional<GoxHost::JsonValue> value = GoxHost::JsonValue::Parse(request.body);
    if (!value) return FailureAnswer(400, kBadBody);
    auto shared = std::make_shared<GoxHost::JsonValue>(std::move(*value));
    return AnswerOnPluginThread(
        plugin_, timeout_,
        [answer, shared, path](GoxHost::HostCore& host) {
          const bool existed = host.Resource(path) != nullptr;
          host.PublishResource(path, *shared);
          host.DeliverPendingEvents();  // answered once the module has seen the change
          *answer = JsonAnswer(ChangeJson(path, existed ? "Update" : "Create"));
        },
        answer);
  }
  if (request.method == "DELETE") {
    return AnswerOnPluginThread(
        plugin_, timeout_,
        [answer, path](GoxHost::HostCore& host) {
          if (host.Resource(path) == nullptr) {
            *answer = FailureAnswer(404, FormatText(kNoResource, path.c_str()));
            return;
          }
          host.DeleteResource(path);
          host.DeliverPendingEvents();
          *answer = JsonAnswer(ChangeJson(path, "Delete"));
        },
        answer);
  }
  if (request.method == "GET") {
    return AnswerOnPluginThread(
        plugin_, timeout_,
        [answer, path](GoxHost::HostCore& host) {
          const GoxHost::JsonValue* value = host.Resource(path);
          *answer = value != nullptr ? JsonAnswer(value->Text())
                                     : FailureAnswer(404, FormatText(kNoResource, path.c_str()));
        },
        answer);
  }
  return FailureAnswer(405, FormatText(kWrongMethod, request.method.c_str(), request.path.c_str()));
}

HttpAnswer AnswerOnPluginThread(PluginThread& plugin, std::chrono::milliseconds timeout,
                                PluginThread::Task task, const std::shared_ptr<HttpAnswer>& answer) {
  switch (plugin.Run(std::move(task), timeout)) {
    case RunStatus::kDone:
      return *answer;
    case RunStatus::kTimedOut:
      return FailureAnswer(504, kBusy);
    case RunStatus::kStopped:
      break;
  }
  return FailureAnswer(503, kStopping);
}

}  // namespace GoxHostApp
