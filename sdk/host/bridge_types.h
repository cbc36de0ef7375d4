// The host bridge's own types and events: resource events in both directions, the plugin manager's
// state, messages of the legacy messaging connection, and service-proxy answers. They are registered
// during load, before the plugin registers its own types.

#pragma once

#include <cstdint>
#include <string>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/type_identifier.h"

namespace Quarn {

class TypeRegistry;

enum class PluginManagerState : std::int32_t {
  NotReady = 0,
  PluginsInitialized = 1,
};

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

// What happened to a resource.
enum class PluginResourceEventType : std::int32_t {
  Create = 0,
  Update = 1,
  Delete = 2,
};

// A change of the resource at uri; data is empty for Delete.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

// The answer to a service-proxy request; error is empty on success and payload is JSON text.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

// clang-format off
template <> struct TypeTraits<PluginManagerState> : EnumTypeTraits<0xF4E3B901> {};
template <> struct TypeTraits<PluginManagerResource> : StructTypeTraits<0xFA58397C> {};
template <> struct TypeTraits<PluginResourceEventType> : EnumTypeTraits<0xDC24D2AD> {};
template <> struct TypeTraits<PluginResourceEvent> : StructTypeTraits<0xA54F35FD> {};
template <> struct TypeTraits<PluginLcdsEvent> : StructTypeTraits<0x739F2EF4> {};
template <> struct TypeTraits<PluginLcdsResponse> : StructTypeTraits<0xF4476A4F> {};
template <> struct TypeTraits<PluginServiceProxyResponse> : StructTypeTraits<0x2C5E7588> {};
// clang-format on

// The host events the bridge uses.
inline constexpr const char* kServiceProxyUuidEvent = "OnServiceProxyUuidEvent";
inline constexpr const char* kServiceProxyMethodEvent = "OnServiceProxyMethodEvent";
inline constexpr const char* kServiceProxyAsyncEvent = "OnServiceProxyAsyncEvent";

// Registers the seven bridge types, then the events "OnJsonApiEvent", "OnLcdsEvent" and the three
// service-proxy events, each tagged "qclient". Idempotent like every registration.
void RegisterBridgeTypes(TypeRegistry& registry);

}  // namespace Quarn
