#include "host/request_router.h"

#include "host/host_value_codec.h"

namespace GoxHost {
namespace {

constexpr const char* kNotFound = "Resource not found: ";
constexpr const char* kNoHandler = "No handler for ";
constexpr const char* kNullPath = "request record has a null path";
constexpr const char* kNullParameters = "request record has a null parameter array with a count of ";
constexpr const char* kBadParameter = "request parameter ";

std::string_view WithoutQuery(std::string_view path) {
  return path.substr(0, path.find('?'));
}

}  // namespace

bool RequestRouter::SetResource(const std::string& path, JsonValue value) {
  const bool existed = resources_.contains(path);
  resources_.insert_or_assign(path, std::move(value));
  return existed;
}

bool RequestRouter::EraseResource(const std::string& path) {
  return resources_.erase(path) > 0;
}

const JsonValue* RequestRouter::FindResource(const std::string& path) const {
  const auto found = resources_.find(path);
  return found == resources_.end() ? nullptr : &found->second;
}

void RequestRouter::AddProvider(ProviderRoute route, Provider provider) {
  for (Entry& entry : providers_) {
    if (entry.route.path == route.path && entry.route.method == route.method &&
        entry.route.prefix == route.prefix) {
      entry.provider = std::move(provider);
      return;
    }
  }
  providers_.push_back(Entry{std::move(route), std::move(provider)});
}

const RequestRouter::Entry* RequestRouter::FindProvider(const ProviderRequest& request) const {
  const std::string_view path = WithoutQuery(request.path);
  const Entry* best = nullptr;
  for (const Entry& entry : providers_) {
    if (entry.route.method != kHttpMethodAny && entry.route.method != request.method) continue;
    const bool matches = entry.route.prefix ? path.starts_with(entry.route.path) : path == entry.route.path;
    if (!matches) continue;
    const bool better =
        best == nullptr || (best->route.prefix && !entry.route.prefix) ||
        (best->route.prefix && entry.route.prefix && entry.route.path.size() > best->route.path.size());
    if (better) best = &entry;
  }
  return best;
}

ProviderAnswer RequestRouter::Route(const ProviderRequest& request) const {
  if (const Entry* entry = FindProvider(request)) return entry->provider(request);
  const std::string path(WithoutQuery(request.path));
  if (request.method == kHttpMethodGet) {
    if (const JsonValue* value = FindResource(path)) return ProviderAnswer::Ok(*value);
    return ProviderAnswer::Error(404, kNotFound + path);
  }
  return ProviderAnswer::Error(404,
                               kNoHandler + MethodName(request.method, request.customMethod) + " " + path);
}

std::optional<std::string> ReadRequest(const PluginRequest& record, ProviderRequest& out) {
  if (record.path == nullptr) return std::string(kNullPath);
  out.method = record.method;
  out.customMethod = record.method == kHttpMethodOther && record.customMethod ? record.customMethod : "";
  out.path = record.path;
  out.hostHandle = record.handleOrRequestId;
  if (record.parameterCount > 0 && record.parameters == nullptr)
    return kNullParameters + std::to_string(record.parameterCount);
  for (std::uint32_t i = 0; i < record.parameterCount; ++i) {
    const PluginParameter& parameter = record.parameters[i];
    HostValueReading reading = FromHostValue(parameter.value);
    if (!reading.value) return kBadParameter + std::to_string(i) + ": " + reading.error;
    if (parameter.name == nullptr) {
      out.positional.push_back(std::move(*reading.value));
    } else {
      out.named.emplace_back(parameter.name, std::move(*reading.value));
    }
  }
  return std::nullopt;
}

std::string MethodName(std::uint32_t method, std::string_view customMethod) {
  static constexpr const char* kNames[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
  if (method == kHttpMethodOther) return std::string(customMethod);
  return method < std::size(kNames) ? kNames[method] : "";
}

}  // namespace GoxHost
