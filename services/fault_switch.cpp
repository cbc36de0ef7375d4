#include "services/fault_switch.h"

#include "host/json_value.h"
#include "services/service_text.h"

namespace GoxServices {
namespace {

constexpr const char* kNotObject = "a fault is a JSON object with a \"mode\"";
constexpr const char* kBadMode = "\"mode\" must be one of slow, error, malformed, close";
constexpr const char* kBadMember = "fault member \"%s\" has the wrong type or range";
constexpr const char* kUnknownMember = "unknown fault member \"%s\"";

constexpr const char* kModeNames[] = {"slow", "error", "malformed", "close"};

}  // namespace

std::variant<Fault, std::string> FaultSwitch::Parse(std::string_view text) {
  const std::optional<GoxHost::JsonValue> parsed = ParseRequestJson(text);
  if (!parsed || !parsed->Get().IsObject() || !parsed->Get().HasMember("mode"))
    return std::string(kNotObject);
  const rapidjson::Value& given = parsed->Get();
  Fault fault;
  bool named = false;
  if (given["mode"].IsString()) {
    for (std::size_t i = 0; i < std::size(kModeNames); ++i) {
      if (std::string_view(given["mode"].GetString()) == kModeNames[i]) {
        fault.mode = static_cast<FaultMode>(i);
        named = true;
      }
    }
  }
  if (!named) return std::string(kBadMode);
  for (const auto& member : given.GetObject()) {
    const std::string_view name = member.name.GetString();
    const rapidjson::Value& value = member.value;
    bool ok = true;
    if (name == "mode") {
      continue;
    } else if (name == "delayMs") {
      ok = value.IsInt64() && value.GetInt64() >= 0 && value.GetInt64() <= kMaxFaultDelay.count();
      if (ok) fault.delay = std::chrono::milliseconds(value.GetInt64());
    } else if (name == "status") {
      ok = value.IsInt() && value.GetInt() >= 100 && value.GetInt() <= 599;
      if (ok) fault.status = value.GetInt();
    } else if (name == "body") {
      ok = value.IsString();
      if (ok) fault.body = value.GetString();
    } else if (name == "path") {
      ok = value.IsString();
      if (ok) fault.pathPrefix = value.GetString();
    } else if (name == "count") {
      ok = value.IsInt() && value.GetInt() >= 1;
      if (ok) fault.remaining = value.GetInt();
    } else {
      return Format(kUnknownMember, std::string(name).c_str());
    }
    if (!ok) return Format(kBadMember, std::string(name).c_str());
  }
  if (fault.mode == FaultMode::kError && !given.HasMember("body")) fault.body = kDefaultFaultBody;
  return fault;
}

void FaultSwitch::Set(Fault fault) {
  const std::lock_guard lock(mutex_);
  fault_ = std::move(fault);
}

void FaultSwitch::Clear() {
  const std::lock_guard lock(mutex_);
  fault_.reset();
}

std::optional<Fault> FaultSwitch::Take(const std::string& path) {
  const std::lock_guard lock(mutex_);
  if (!fault_ || !path.starts_with(fault_->pathPrefix)) return std::nullopt;
  Fault hit = *fault_;
  if (fault_->remaining > 0 && --fault_->remaining == 0) fault_.reset();
  return hit;
}

std::string FaultSwitch::Json() const {
  const std::lock_guard lock(mutex_);
  if (!fault_) return "null";
  GoxHost::JsonValue json;
  GoxHost::JsonDocument& document = json.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("mode", rapidjson::StringRef(kModeNames[static_cast<int>(fault_->mode)]), allocator);
  document.AddMember("delayMs", static_cast<std::int64_t>(fault_->delay.count()), allocator);
  document.AddMember("status", fault_->status, allocator);
  document.AddMember("body", JsonString(fault_->body, allocator), allocator);
  document.AddMember("path", JsonString(fault_->pathPrefix, allocator), allocator);
  document.AddMember("count", fault_->remaining, allocator);
  return json.Text();
}

}  // namespace GoxServices
