// The loadouts plugin's types and endpoints as the host core reads them from the API description, their
// fixed identifiers, and how the types convert the values the services and other plugins send.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "loadouts/loadouts_endpoints.h"
#include "loadouts/loadouts_types.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/type_registry.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"
#include "tests/support/loadouts_fixture.h"

namespace Quarn::LoadoutsTest {
namespace {

using namespace Client::Loadouts;
using NK = NativeKind;

class LoadoutsDescriptionTest : public LoadoutsFixture {};

// "key:kind:elementKind:typeName[:optional]" for each field.
std::vector<std::string> FieldsOf(const GoxHost::TypeInfo& type) {
  std::vector<std::string> fields;
  for (const GoxHost::FieldInfo& field : type.fields) {
    std::string text = field.name + ":" + std::string(NativeKindName(static_cast<NK>(field.kind)));
    if (field.elementKind != 0) text += ":" + std::string(NativeKindName(static_cast<NK>(field.elementKind)));
    if (!field.typeName.empty()) text += ":" + field.typeName;
    if (field.optional) text += ":optional";
    if (!field.description.empty()) text += ":described";
    fields.push_back(text);
  }
  return fields;
}

TEST_F(LoadoutsDescriptionTest, TypesCarryTheirKeysKindsAndOptionalMark) {
  Start();
  const GoxHost::ApiDescription& api = host_.Description();
  EXPECT_EQ(api.problems, std::vector<std::string>());
  struct Case {
    const char* name;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"GoxLoadoutsItemKey", {"inventoryType:string", "itemId:int32"}},
      {"GoxLoadoutsLoadout", {"id:uint32", "name:string", "items:map:object"}},
      {"GoxLoadoutsCreateOrUpdateItemsRequest",
       {"id:uint32", "items:map:object", "inventoryJWTs:vector:string"}},
      {"GoxLoadoutsGetItemsRequest",
       {"id:uint32", "inventoryTypes:vector:string", "inventoryJWTs:vector:string"}},
      {"GoxLoadoutsInventoryItemDTO",
       {"itemId:int32", "inventoryType:string", "expirationDate:string", "purchaseDate:string",
        "quantity:uint64", "usedInGameDate:string", "entitlementId:string", "eneitlementTypeId:string",
        "instanceId:string", "instanceTypeId:string", "f2p:bool", "rental:bool", "lsb:bool", "wins:uint64"}},
      {"GoxLoadoutsInventoryDTO",
       {"puuid:string", "accountId:uint64", "summonerId:uint64", "items:map:object", "expires:string",
        "itemsJwt:string:optional"}},
      {"GoxLoadoutsInventoryResponseDTO", {"data:struct:GoxLoadoutsInventoryDTO"}},
      {"GoxLoadoutsFrontendInventoryResponse", {"entitlements:vector:struct:GoxLoadoutsItemKey"}},
      {"GoxLoadoutsLoginSessionStates", {}},
      {"GoxLoadoutsLoginSession",
       {"state:enum:GoxLoadoutsLoginSessionStates", "summonerId:uint64", "accountId:uint64", "idToken:string",
        "gasToken:object", "puuid:string"}},
      {"GoxLoadoutsAccessTokenResource", {"token:string", "scopes:vector:string", "expiry:uint64"}},
      {"GoxLoadoutsGameflowPhase", {}},
      {"GoxLoadoutsQueue", {"isTeamBuilderManaged:bool"}},
      {"GoxLoadoutsGameflowGameData", {"queue:struct:GoxLoadoutsQueue"}},
      {"GoxLoadoutsGameflowSession",
       {"phase:enum:GoxLoadoutsGameflowPhase", "gameData:struct:GoxLoadoutsGameflowGameData"}},
  };
  for (const Case& c : cases) {
    const GoxHost::TypeInfo* type = api.FindType(c.name);
    ASSERT_NE(type, nullptr) << c.name;
    EXPECT_EQ(FieldsOf(*type), c.fields) << c.name;
  }
  std::vector<std::string> ours;
  for (const GoxHost::TypeInfo& type : api.types)
    if (type.name.starts_with("GoxLoadouts")) ours.push_back(type.name);
  EXPECT_EQ(ours.size(), std::size(cases));
}

TEST_F(LoadoutsDescriptionTest, EnumerationsKeepTheirValuesNotTheirPositions) {
  Start();
  const auto enumerators = [&](const char* name) {
    std::vector<std::string> texts;
    const GoxHost::TypeInfo* type = host_.Description().FindType(name);
    if (type == nullptr) return texts;
    for (const GoxHost::EnumeratorInfo& e : type->enumerators)
      texts.push_back(e.name + "=" + std::to_string(e.value));
    return texts;
  };
  // Enumerators are described in name order.
  EXPECT_EQ(enumerators("GoxLoadoutsLoginSessionStates"),
            (std::vector<std::string>{"ERROR=3", "IN_PROGRESS=0", "LOGGING_OUT=2", "SUCCEEDED=1"}));
  const std::vector<std::string> phases = enumerators("GoxLoadoutsGameflowPhase");
  EXPECT_EQ(phases.size(), 14u);
  EXPECT_NE(std::find(phases.begin(), phases.end(), "ChampSelect=5"), phases.end());
  EXPECT_NE(std::find(phases.begin(), phases.end(), "TerminatedInError=13"), phases.end());
}

TEST_F(LoadoutsDescriptionTest, TypesAreFoundByTheirFixedIdentifiers) {
  LoadoutsPlugin& plugin = Start();
  const std::pair<const char*, std::uint32_t> identifiers[] = {
      {"ItemKey", 0xCC5D90A5},
      {"Loadout", 0x6A07DACF},
      {"CreateOrUpdateItemsRequest", 0x1D4F5620},
      {"GetItemsRequest", 0xCE8F7454},
      {"InventoryItemDTO", 0xC4B08FEB},
      {"InventoryDTO", 0x5FE6902C},
      {"InventoryResponseDTO", 0xC23CD2BB},
      {"FrontendInventoryResponse", 0x3B639692},
      {"LoginSessionStates", 0xD4454F1F},
      {"LoginSession", 0x677ED5FA},
      {"AccessTokenResource", 0x159F215E},
      {"GameflowPhase", 0x9AC31980},
      {"Queue", 0xEBA95AAA},
      {"GameflowGameData", 0x73501ECB},
      {"GameflowSession", 0x9E4685C9},
  };
  std::set<std::uint32_t> seen = {TypeTraits<std::vector<Api::ItemKey>>::kId,
                                  TypeTraits<std::vector<Api::InventoryItemDTO>>::kId};
  for (const auto& [name, id] : identifiers) {
    const TypeInfo* type = plugin.OwnRegistry().FindTypeById(id);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_EQ(type->name, std::string("GoxLoadouts") + name);
    EXPECT_TRUE(seen.insert(id).second) << name;
  }
  // The list of inventory items has an identifier of its own that no registered type answers to.
  EXPECT_EQ(plugin.OwnRegistry().FindTypeById(Api::kInventoryItemListTypeId), nullptr);
}

TEST_F(LoadoutsDescriptionTest, EndpointsHaveTheirNamesMethodsAndArgumentLocations) {
  Start();
  struct Case {
    const char* route;
    std::uint32_t method;
    const char* name;
    std::vector<std::string> arguments;  // "name@location"
    std::string result;
  };
  const Case cases[] = {
      {kItemsOfTypeRoute,
       kHttpMethodGet,
       "GetGoxLoadoutsV2ItemsByIdByInventoryType",
       {"id@2", "inventoryType@2"},
       "object"},
      {kItemsRoute, kHttpMethodPost, "PostGoxLoadoutsV2ItemsById", {"id@2", "items@5"}, "object"},
      {kItemsRoute, kHttpMethodDelete, "DeleteGoxLoadoutsV2ItemsById", {"id@2", "inventoryType@1"}, "object"},
      {kSendItemsRoute, kHttpMethodPost, "PostGoxLoadoutsV1SendItemsToDuviRidazeById", {"id@2"}, "object"},
      {kInventoryRoute,
       kHttpMethodGet,
       "GetGoxLoadoutsV1Inventory",
       {"inventoryTypes@1"},
       "GoxLoadoutsFrontendInventoryResponse"},
  };
  std::vector<std::string> order;
  for (const GoxHost::EndpointInfo& endpoint : host_.Description().endpoints)
    order.push_back(endpoint.name);
  for (const Case& c : cases) {
    const GoxHost::EndpointInfo* endpoint = host_.Description().FindEndpoint(c.route, c.method);
    ASSERT_NE(endpoint, nullptr) << c.route;
    EXPECT_EQ(endpoint->name, c.name);
    std::vector<std::string> arguments;
    for (std::size_t i = 0; i < endpoint->arguments.size(); ++i) {
      arguments.push_back(endpoint->arguments[i].name + "@" + std::to_string(endpoint->locations.at(i)));
      EXPECT_EQ(endpoint->arguments[i].description, "");
    }
    EXPECT_EQ(arguments, c.arguments) << c.name;
    const std::string result = endpoint->returnTypeName.empty()
                                   ? std::string(NativeKindName(static_cast<NK>(endpoint->returnKind)))
                                   : endpoint->returnTypeName;
    EXPECT_EQ(result, c.result) << c.name;
  }
  EXPECT_EQ(order.size(), std::size(cases));
}

// Conversion of the values other plugins and services send, through the registered types.
class LoadoutsConversionTest : public ::testing::Test {
 protected:
  LoadoutsConversionTest() {
    registry_.Initialize();
    RegisterLoadoutsTypes(registry_, "GoxLoadouts");
  }

  template <class T>
  std::string Read(const char* json, T& value) {
    const ConversionResult decoded = DecodeJson(json);
    EXPECT_TRUE(decoded.Ok()) << json;
    ConversionResult converted;
    ToNative(converted, value, decoded.Value(), "<value>", registry_);
    return converted.Ok() ? "" : std::string(converted.Message());
  }

  TypeRegistry registry_;
};

TEST_F(LoadoutsConversionTest, InventoryItemsReadTheServicesSpelling) {
  Api::InventoryItemDTO item;
  EXPECT_EQ(Read(R"({"itemId":4,"eneitlementTypeId":"e1","entitlementTypeId":"wrong","wins":9})", item), "");
  EXPECT_EQ(item.entitlementTypeId, "e1");
  EXPECT_EQ(item.itemId, 4);
  EXPECT_EQ(item.wins, 9u);
}

TEST_F(LoadoutsConversionTest, OptionalItemsTokenAndMissingMembers) {
  struct Case {
    const char* json;
    std::optional<std::string> itemsJwt;
  };
  const Case cases[] = {
      {R"({"accountId":1})", std::nullopt},
      {R"({"itemsJwt":null})", std::nullopt},
      {R"({"itemsJwt":"t"})", std::string("t")},
  };
  for (const Case& c : cases) {
    Api::InventoryDTO inventory;
    EXPECT_EQ(Read(c.json, inventory), "") << c.json;
    EXPECT_EQ(inventory.itemsJwt, c.itemsJwt) << c.json;
    EXPECT_EQ(inventory.puuid, "") << c.json;
  }
}

TEST_F(LoadoutsConversionTest, EnumerationsReadByNameAndWriteByName) {
  struct Case {
    const char* json;
    Api::LoginSessionStates state;
  };
  const Case cases[] = {
      {R"({"state":"ERROR"})", Api::LoginSessionStates::ERROR},
      {R"({"state":"SUCCEEDED"})", Api::LoginSessionStates::SUCCEEDED},
      {R"({"state":2})", Api::LoginSessionStates::LOGGING_OUT},
  };
  for (const Case& c : cases) {
    Api::LoginSession session;
    EXPECT_EQ(Read(c.json, session), "") << c.json;
    EXPECT_EQ(session.state, c.state) << c.json;
  }
  Api::GameflowSession session;
  EXPECT_EQ(Read(R"({"phase":"ChampSelect","gameData":{"queue":{"isTeamBuilderManaged":true}}})", session),
            "");
  EXPECT_EQ(static_cast<int>(session.phase), 5);
  EXPECT_TRUE(session.gameData.queue.isTeamBuilderManaged);
  ConversionResult written;
  ToProperty(written, session, registry_);
  ASSERT_TRUE(written.Ok());
  EXPECT_EQ(EncodeJson(written.Value(), &registry_),
            R"({"gameData":{"queue":{"isTeamBuilderManaged":true}},"phase":"ChampSelect"})");
}

}  // namespace
}  // namespace Quarn::LoadoutsTest
