#include "tools/gox_host/openapi.h"

#include <gtest/gtest.h>

#include <rapidjson/pointer.h>

#include <string>

namespace GoxHostApp {
namespace {

// A description with every shape the generator knows: path, query, header and body arguments, a vector
// of a structure, an enumeration, a map, a custom method and an event.
GoxHost::ApiDescription SampleDescription() {
  GoxHost::ApiDescription description;
  GoxHost::EndpointInfo items;
  items.name = "GetXV1ItemsById";
  items.path = "/x/v1/items/{id}";
  items.method = kHttpMethodGet;
  items.tags = {"Plugins"};
  items.description = "Reads items";
  items.arguments = {{"id", "", 7, 0, "", false},
                     {"types", "Which types", 15, 12, "", true},
                     {"trace", "", 12, 0, "", true},
                     {"anything", "", 12, 0, "", false},
                     {"filter", "", 17, 0, "XFilter", false},
                     {"extra", "", 13, 0, "", true},
                     {"names", "", 15, 12, "", true}};
  items.locations = {2, 1, 4, 0, 1, 0, 4};
  items.returnKind = 15;
  items.returnElementKind = 17;
  items.returnTypeName = "XItem";
  description.endpoints.push_back(items);

  GoxHost::EndpointInfo store = items;
  store.name = "PostXV1ItemsById";
  store.method = kHttpMethodPost;
  store.description = "";
  store.arguments = {{"id", "", 0, 0, "", false}, {"items", "The items", 19, 13, "", false}};
  store.locations = {0, 5};
  store.returnKind = 13;
  store.returnTypeName = "";
  description.endpoints.push_back(store);

  GoxHost::EndpointInfo purge = store;
  purge.name = "PurgeXV1ItemsById";
  purge.method = kHttpMethodOther;
  purge.customMethod = "PURGE";
  description.endpoints.push_back(purge);

  GoxHost::TypeInfo item;
  item.name = "XItem";
  item.fields = {{"itemId", "", 0, 6, 0, "", false},
                 {"shade", "", 4, 16, 0, "XShade", false},
                 {"note", "", 8, 12, 0, "", true},
                 {"wins", "", 16, 9, 0, "", false}};
  description.types.push_back(item);
  GoxHost::TypeInfo shade;
  shade.name = "XShade";
  shade.enumerators = {{"Dark", "", 1}, {"Light", "", 0}};
  description.types.push_back(shade);
  GoxHost::TypeInfo filter;
  filter.name = "XFilter";
  filter.fields = {{"kinds", "", 0, 15, 16, "XKind", false}};
  description.types.push_back(filter);
  GoxHost::TypeInfo kind;
  kind.name = "XKind";
  kind.enumerators = {{"Big", "", 0}};
  description.types.push_back(kind);
  GoxHost::TypeInfo unused;
  unused.name = "XUnused";
  unused.fields = {{"item", "", 0, 17, 0, "XItem", false}};
  description.types.push_back(unused);
  description.events.push_back({"OnXEvent", "", "XItem", "Fired for tests.", {}});
  description.events.push_back({"OnXNote", "", "XNote", "", {}});
  GoxHost::TypeInfo note;
  note.name = "XNote";
  note.fields = {{"shade", "", 0, 16, 0, "XShade", false}, {"level", "", 4, 16, 0, "XLevel", false}};
  description.types.push_back(note);
  GoxHost::TypeInfo level;
  level.name = "XLevel";
  level.enumerators = {{"Low", "", 0}};
  description.types.push_back(level);
  return description;
}

std::string At(const GoxHost::JsonValue& document, const char* pointer) {
  const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document.Get());
  return value != nullptr ? GoxHost::JsonText(*value) : "(absent)";
}

TEST(OpenApiTest, EndpointsTypesAndEventsAreDescribed) {
  const GoxHost::JsonValue document =
      BuildOpenApi(SampleDescription(), "gox-host: x", "18.0.0", "http://127.0.0.1:8090");
  struct Case {
    const char* pointer;
    const char* json;
  };
  const Case cases[] = {
      {"/openapi", R"("3.0.3")"},
      {"/info/version", R"("18.0.0")"},
      {"/paths/~1x~1v1~1items~1{id}/get/operationId", R"("GetXV1ItemsById")"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/0",
       R"({"name":"id","in":"path","required":true,"schema":{"type":"integer","format":"int32","minimum":0}})"},
      // A list, a structure or any JSON value in the query is one parameter holding its JSON text:
      // the module binds ?types=A as a text and refuses it where a list is wanted.
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/1",
       R"({"name":"types","in":"query","description":"Which types","required":false,)"
       R"("content":{"application/json":{"schema":{"type":"array","items":{"type":"string"}}}}})"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/4/content/application~1json/schema",
       R"({"$ref":"#/components/schemas/XFilter"})"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/5/content/application~1json/schema", "{}"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/5/schema", "(absent)"},
      // A list in a header keeps its schema: only the query takes the JSON text form.
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/6/schema",
       R"({"type":"array","items":{"type":"string"}})"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/6/content", "(absent)"},
      {"/paths/~1x~1v1~1items~1{id}/get/summary", R"("Reads items")"},
      {"/paths/~1x~1v1~1items~1{id}/get/description",
       R"("Calls the module's function GetXV1ItemsById (GET /x/v1/items/{id}). Reads items")"},
      {"/paths/~1x~1v1~1items~1{id}/post/summary", R"("POST /x/v1/items/{id}")"},
      {"/paths/~1x~1v1~1items~1{id}/get/responses/400/content/application~1json/schema/$ref",
       R"("#/components/schemas/GoxHostFailure")"},
      {"/paths/~1x~1v1~1items~1{id}/get/responses/503/content/application~1json/schema/$ref",
       R"("#/components/schemas/GoxHostFailure")"},
      // 413 only where there is a body to be too large.
      {"/paths/~1x~1v1~1items~1{id}/get/responses/413", "(absent)"},
      {"/paths/~1x~1v1~1items~1{id}/post/responses/413/content/application~1json/schema/$ref",
       R"("#/components/schemas/GoxHostFailure")"},
      {"/servers", R"([{"url":"http://127.0.0.1:8090","description":"gox-host"}])"},
      {"/tags/0/name", R"("Plugins")"},
      {"/security", "[]"},
      // Types reached through a field of a used type stay; a type only an unused one names goes.
      {"/components/schemas/XKind/enum", R"(["Big"])"},
      {"/components/schemas/XUnused", "(absent)"},
      {"/x-event-schemas/XUnused", "(absent)"},
      // A type only events carry is grouped apart, and references to it follow it; a type that an
      // operation uses as well stays in components.
      {"/components/schemas/XNote", "(absent)"},
      {"/x-event-schemas/XNote/properties/shade", R"({"$ref":"#/components/schemas/XShade"})"},
      {"/x-event-schemas/XNote/properties/level", R"({"$ref":"#/x-event-schemas/XLevel"})"},
      {"/x-events/1/payload", R"({"$ref":"#/x-event-schemas/XNote"})"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/2/in", R"("header")"},
      {"/paths/~1x~1v1~1items~1{id}/get/parameters/3/in", R"("query")"},
      {"/paths/~1x~1v1~1items~1{id}/get/responses/200/content/application~1json/schema",
       R"({"type":"array","items":{"$ref":"#/components/schemas/XItem"}})"},
      {"/paths/~1x~1v1~1items~1{id}/get/responses/default/content/application~1json/schema/$ref",
       R"("#/components/schemas/GoxHostFailure")"},
      {"/paths/~1x~1v1~1items~1{id}/post/parameters/0/in", R"("path")"},
      {"/paths/~1x~1v1~1items~1{id}/post/parameters/1", "(absent)"},
      {"/paths/~1x~1v1~1items~1{id}/post/requestBody",
       R"({"description":"The items","required":true,"content":{"application/json":{"schema":)"
       R"({"type":"object","additionalProperties":{}}}}})"},
      {"/x-custom-methods/0/method", R"("PURGE")"},
      {"/components/schemas/XItem/properties/shade", R"({"$ref":"#/components/schemas/XShade"})"},
      {"/components/schemas/XItem/properties/note", R"({"type":"string","nullable":true})"},
      {"/components/schemas/XItem/properties/wins", R"({"type":"integer","format":"int64","minimum":0})"},
      {"/components/schemas/XShade",
       R"({"type":"string","enum":["Dark","Light"],"x-enum-values":{"Dark":1,"Light":0}})"},
      {"/components/schemas/GoxHostFailure/required", R"(["httpStatus","message"])"},
      {"/x-events/0",
       R"({"name":"OnXEvent","description":"Fired for tests.","payload":{"$ref":"#/components/schemas/XItem"}})"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(At(document, c.pointer), c.json) << c.pointer;
}

TEST(OpenApiTest, TheAdminApisModuleReloadIsDescribedOnlyWithTheAdminApi) {
  const GoxHost::JsonValue with = BuildOpenApi(SampleDescription(), "t", "0.0.0", {}, true);
  const GoxHost::JsonValue without = BuildOpenApi(SampleDescription(), "t", "0.0.0");
  const char* operation = "/paths/~1admin~1modules~1{name}~1reload/post";
  EXPECT_EQ(At(with, (std::string(operation) + "/operationId").c_str()), R"("ReloadModule")");
  EXPECT_EQ(
      At(with, (std::string(operation) + "/responses/422/content/application~1json/schema/$ref").c_str()),
      R"("#/components/schemas/GoxHostModuleReload")");
  EXPECT_EQ(At(with, "/components/schemas/GoxHostModuleReload/required/1"), R"("outcome")");
  EXPECT_NE(At(with, "/tags").find(R"("name":"gox-host admin")"), std::string::npos);
  EXPECT_EQ(At(without, operation), "(absent)");
  EXPECT_EQ(At(without, "/components/schemas/GoxHostModuleReload"), "(absent)");
}

TEST(OpenApiTest, AnEmptyDescriptionIsStillADocument) {
  const GoxHost::JsonValue document = BuildOpenApi({}, "t", "0.0.0");
  EXPECT_EQ(At(document, "/paths"), "{}");
  EXPECT_EQ(At(document, "/x-custom-methods"), "(absent)");
  EXPECT_EQ(At(document, "/servers"), "(absent)");
  EXPECT_EQ(At(document, "/x-event-schemas"), "(absent)");
  EXPECT_NE(At(document, "/components/schemas/GoxHostFailure"), "(absent)");
}

}  // namespace
}  // namespace GoxHostApp
