#include "sdk/host/bridge_types.h"

#include <gtest/gtest.h>

#include "sdk/binding/type_registry.h"
#include "tests/support/type_text.h"

namespace Quarn {
namespace {

TEST(BridgeTypesTest, TypesAndEventsAreRegisteredWithTheirIdentifiersAndMembers) {
  const test::ExpectedType expected[] = {
      {"PluginManagerState",
       0xF4E3B901,
       sizeof(PluginManagerState),
       "",
       {},
       {"NotReady=0: ", "PluginsInitialized=1: "}},
      {"PluginManagerResource",
       0xFA58397C,
       sizeof(PluginManagerResource),
       "",
       {},
       {"state: PluginManagerState #F4E3B901"}},
      {"PluginResourceEventType",
       0xDC24D2AD,
       sizeof(PluginResourceEventType),
       "",
       {},
       {"Create=0: ", "Delete=2: ", "Update=1: "}},
      {"PluginResourceEvent",
       0xA54F35FD,
       sizeof(PluginResourceEvent),
       "",
       {},
       {"uri: string #2757680B", "eventType: PluginResourceEventType #DC24D2AD", "data: object #AF98C378"}},
      {"PluginLcdsEvent",
       0x739F2EF4,
       sizeof(PluginLcdsEvent),
       "",
       {},
       {"clientId: string #2757680B", "subtopic: string #2757680B", "typeName: string #2757680B",
        "body: object #AF98C378"}},
      {"PluginLcdsResponse",
       0xF4476A4F,
       sizeof(PluginLcdsResponse),
       "",
       {},
       {"typeName: string #2757680B", "body: object #AF98C378"}},
      {"PluginServiceProxyResponse",
       0x2C5E7588,
       sizeof(PluginServiceProxyResponse),
       "",
       {},
       {"uuid: string #2757680B", "serviceName: string #2757680B", "methodName: string #2757680B",
        "payload: string #2757680B", "status: string #2757680B", "error: string #2757680B"}},
  };
  TypeRegistry registry;
  RegisterBridgeTypes(registry);
  for (const test::ExpectedType& type : expected)
    test::ExpectRegistered(registry, type);

  const struct {
    const char* name;
    const char* payload;
    const char* description;
  } events[] = {
      {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed."},
      {"OnLcdsEvent", "PluginLcdsEvent", "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
       "Fired when an async service proxy message is received."},
  };
  for (const auto& e : events) {
    const auto event = registry.FindEvent(e.name);
    ASSERT_NE(event, nullptr) << e.name;
    EXPECT_EQ(event->payload, registry.FindTypeByName(e.payload)) << e.name;
    EXPECT_EQ(event->description, e.description);
    EXPECT_EQ(event->tags, std::vector<std::string>{"qclient"});
  }
}

}  // namespace
}  // namespace Quarn
