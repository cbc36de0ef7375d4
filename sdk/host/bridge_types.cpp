#include "sdk/host/bridge_types.h"

#include <cstddef>

#include "sdk/binding/type_registry.h"
#include "sdk/host/resource_paths.h"

namespace Quarn {
namespace {

constexpr const char* kBridgeTag = "qclient";

void RegisterEvent(TypeRegistry& registry, const char* name, const char* payload, const char* description) {
  registry.RegisterEvent(name, registry.FindTypeByName(payload))
      .SetDescription(description)
      .AddTag(kBridgeTag);
}

}  // namespace

void RegisterBridgeTypes(TypeRegistry& registry) {
  registry.RegisterType<PluginManagerState>("PluginManagerState")
      .AddEnumValue("NotReady", 0)
      .AddEnumValue("PluginsInitialized", 1);
  registry.RegisterType<PluginManagerResource>("PluginManagerResource")
      .AddField<PluginManagerState>("state", offsetof(PluginManagerResource, state));
  registry.RegisterType<PluginResourceEventType>("PluginResourceEventType")
      .AddEnumValue("Create", 0)
      .AddEnumValue("Update", 1)
      .AddEnumValue("Delete", 2);
  registry.RegisterType<PluginResourceEvent>("PluginResourceEvent")
      .AddField<std::string>("uri", offsetof(PluginResourceEvent, uri))
      .AddField<PluginResourceEventType>("eventType", offsetof(PluginResourceEvent, eventType))
      .AddField<BindingProperty>("data", offsetof(PluginResourceEvent, data));
  registry.RegisterType<PluginLcdsEvent>("PluginLcdsEvent")
      .AddField<std::string>("clientId", offsetof(PluginLcdsEvent, clientId))
      .AddField<std::string>("subtopic", offsetof(PluginLcdsEvent, subtopic))
      .AddField<std::string>("typeName", offsetof(PluginLcdsEvent, typeName))
      .AddField<BindingProperty>("body", offsetof(PluginLcdsEvent, body));
  registry.RegisterType<PluginLcdsResponse>("PluginLcdsResponse")
      .AddField<std::string>("typeName", offsetof(PluginLcdsResponse, typeName))
      .AddField<BindingProperty>("body", offsetof(PluginLcdsResponse, body));
  registry.RegisterType<PluginServiceProxyResponse>("PluginServiceProxyResponse")
      .AddField<std::string>("uuid", offsetof(PluginServiceProxyResponse, uuid))
      .AddField<std::string>("serviceName", offsetof(PluginServiceProxyResponse, serviceName))
      .AddField<std::string>("methodName", offsetof(PluginServiceProxyResponse, methodName))
      .AddField<std::string>("payload", offsetof(PluginServiceProxyResponse, payload))
      .AddField<std::string>("status", offsetof(PluginServiceProxyResponse, status))
      .AddField<std::string>("error", offsetof(PluginServiceProxyResponse, error));

  RegisterEvent(registry, kResourceEventName, "PluginResourceEvent", "Fired when a resource is changed.");
  RegisterEvent(registry, "OnLcdsEvent", "PluginLcdsEvent",
                "Fired when a message is received over the LCDS connection.");
  RegisterEvent(registry, kServiceProxyUuidEvent, "PluginServiceProxyResponse",
                "Fired when a uuid-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyMethodEvent, "PluginServiceProxyResponse",
                "Fired when a method-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyAsyncEvent, "PluginServiceProxyResponse",
                "Fired when an async service proxy message is received.");
}

}  // namespace Quarn
