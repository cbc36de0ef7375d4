#include "tools/gox_host/admin_api.h"

#include <memory>

#include "tools/common/listen_address.h"

namespace GoxHostApp {
namespace {

constexpr const char* kResourcesPrefix = "/admin/resources/";
constexpr const char* kGameCustomizationPath = "/admin/game-customization";
constexpr const char* kLogPath = "/admin/log";
constexpr const char* kModulesPath = "/admin/modules";

constexpr const char* kNotLoopback = "the admin API answers loopback clients only";
constexpr const char* kNoSuchAdminPath = "no admin resource %s";
constexpr const char* kWrongMethod = "%s is not allowed on %s";
constexpr const char* kBadBody = "the body must be one JSON value";
constexpr const char* kNoResource = "no resource at %s";
constexpr const char* kBusy = "the plugin thread did not answer in time";
constexpr const char* kStopping = "gox-host is shutting down";

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
  for (const GoxHost::ModuleInfo& loaded : plugin_.Modules()) {
    const std::string version = std::to_string(loaded.version[0]) + "." + std::to_string(loaded.version[1]) +
                                "." + std::to_string(loaded.version[2]);
    rapidjson::Value module(rapidjson::kObjectType);
    module.AddMember("name", Text(loaded.name, allocator), allocator);
    module.AddMember("version", Text(version, allocator), allocator);
    module.AddMember("serving", loaded.started, allocator);
    document.PushBack(module, allocator);
  }
  return JsonAnswer(modules.Text());
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
