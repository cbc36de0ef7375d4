#include "tools/gox_host/openapi.h"

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "plugin/plugin_abi.h"

namespace GoxHostApp {
namespace {

using Allocator = rapidjson::MemoryPoolAllocator<>;

// The native kind codes of the API description.
enum class NativeKind : std::uint32_t {
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,
  Blob = 14,
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,
};

constexpr const char* kFailureSchema = "GoxHostFailure";
constexpr const char* kReloadSchema = "GoxHostModuleReload";
constexpr const char* kAdminTag = "gox-host admin";
constexpr const char* kReloadPath = "/admin/modules/{name}/reload";

// The admin API's module reload, which clients of a running gox-host call as they call the modules.
constexpr const char* kReloadOperation = R"({
  "operationId": "ReloadModule",
  "summary": "Reloads a module from its file",
  "description": "Loads the module's file again under a fresh mapping and, once its handshake succeeded, shuts the running module down and initializes the new one. A refused file leaves the running module serving (422); a new module whose Initialize fails gives way to the old code started again, or leaves the module out (500; serving tells which). Loopback clients only.",
  "tags": ["gox-host admin"],
  "parameters": [{"name": "name", "in": "path", "required": true, "description": "The module's short name", "schema": {"type": "string"}}],
  "responses": {
    "200": {"description": "The new module serves.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostModuleReload"}}}},
    "403": {"description": "Not a loopback client.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostFailure"}}}},
    "404": {"description": "No module of that name is loaded.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostModuleReload"}}}},
    "422": {"description": "The new file was refused; the running module serves on.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostModuleReload"}}}},
    "500": {"description": "The new module's Initialize failed.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostModuleReload"}}}},
    "503": {"description": "gox-host is shutting down.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostFailure"}}}},
    "504": {"description": "The plugin thread did not get to the reload in time.", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/GoxHostFailure"}}}}
  }
})";
constexpr const char* kReloadSchemaText = R"({
  "type": "object",
  "properties": {
    "httpStatus": {"type": "integer", "format": "int32", "description": "On a failure: the HTTP status"},
    "name": {"type": "string"},
    "outcome": {"type": "string", "enum": ["reloaded", "no-module", "busy", "no-library", "refused", "wrong-name", "conflict", "not-started", "left-out"]},
    "reloaded": {"type": "boolean", "description": "The new module serves"},
    "serving": {"type": "boolean", "description": "A module of that name serves, new or old"},
    "message": {"type": "string", "description": "What happened, and why"},
    "loads": {"type": "integer", "format": "int32", "minimum": 0, "description": "Loads of the module so far, reloads included"}
  },
  "required": ["name", "outcome", "reloaded", "serving", "message", "loads"]
})";

rapidjson::Value ParsedValue(const char* text, rapidjson::MemoryPoolAllocator<>& allocator) {
  rapidjson::Value value;
  GoxHost::CopyJson(GoxHost::JsonValue::Parse(text).value_or(GoxHost::JsonValue()).Get(), value, allocator);
  return value;
}
constexpr const char* kSchemasPrefix = "#/components/schemas/";
constexpr const char* kEventSchemas = "x-event-schemas";
constexpr const char* kEventSchemasPrefix = "#/x-event-schemas/";
constexpr const char* kInfoDescription =
    "The module's endpoints as gox-host serves them. A list or a structure in the query is one parameter "
    "whose value is its JSON text, percent-encoded.";

// Argument locations of the API description.
constexpr std::uint32_t kLocationQuery = 1;
constexpr std::uint32_t kLocationPath = 2;
constexpr std::uint32_t kLocationHeader = 4;
constexpr std::uint32_t kLocationBody = 5;

rapidjson::Value Text(std::string_view text, Allocator& allocator) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

rapidjson::Value Object() {
  return rapidjson::Value(rapidjson::kObjectType);
}

rapidjson::Value Reference(std::string_view typeName, Allocator& allocator) {
  rapidjson::Value schema = Object();
  schema.AddMember("$ref", Text(kSchemasPrefix + std::string(typeName), allocator), allocator);
  return schema;
}

rapidjson::Value Typed(const char* type, Allocator& allocator, const char* format = nullptr) {
  rapidjson::Value schema = Object();
  schema.AddMember("type", rapidjson::StringRef(type), allocator);
  if (format != nullptr) schema.AddMember("format", rapidjson::StringRef(format), allocator);
  return schema;
}

// The schema of a value of one kind; typeName names the registered type of enumerations, structures
// and the elements of vectors and maps.
rapidjson::Value KindSchema(std::uint32_t kind, std::uint32_t elementKind, std::string_view typeName,
                            Allocator& allocator) {
  switch (static_cast<NativeKind>(kind)) {
    case NativeKind::Bool:
      return Typed("boolean", allocator);
    case NativeKind::Int8:
    case NativeKind::Int16:
    case NativeKind::Int32:
      return Typed("integer", allocator, "int32");
    case NativeKind::UInt8:
    case NativeKind::UInt16:
    case NativeKind::UInt32: {
      rapidjson::Value schema = Typed("integer", allocator, "int32");
      schema.AddMember("minimum", 0, allocator);
      return schema;
    }
    case NativeKind::Int64:
      return Typed("integer", allocator, "int64");
    case NativeKind::UInt64: {
      rapidjson::Value schema = Typed("integer", allocator, "int64");
      schema.AddMember("minimum", 0, allocator);
      return schema;
    }
    case NativeKind::Float:
      return Typed("number", allocator, "float");
    case NativeKind::Double:
      return Typed("number", allocator, "double");
    case NativeKind::String:
      return Typed("string", allocator);
    case NativeKind::Blob:
      return Typed("string", allocator, "byte");
    case NativeKind::Vector: {
      rapidjson::Value schema = Typed("array", allocator);
      schema.AddMember("items", KindSchema(elementKind, 0, typeName, allocator), allocator);
      return schema;
    }
    case NativeKind::Map: {
      rapidjson::Value schema = Typed("object", allocator);
      schema.AddMember("additionalProperties", KindSchema(elementKind, 0, typeName, allocator), allocator);
      return schema;
    }
    case NativeKind::Enum:
    case NativeKind::Struct:
      if (!typeName.empty()) return Reference(typeName, allocator);
      return Object();
    default:
      return Object();  // any JSON value
  }
}

rapidjson::Value TypeSchema(const GoxHost::TypeInfo& type, Allocator& allocator) {
  rapidjson::Value schema = Object();
  if (!type.description.empty())
    schema.AddMember("description", Text(type.description, allocator), allocator);
  if (type.fields.empty() && !type.enumerators.empty()) {
    schema.AddMember("type", "string", allocator);
    rapidjson::Value names(rapidjson::kArrayType);
    rapidjson::Value values = Object();
    for (const GoxHost::EnumeratorInfo& enumerator : type.enumerators) {
      names.PushBack(Text(enumerator.name, allocator), allocator);
      values.AddMember(Text(enumerator.name, allocator), rapidjson::Value(enumerator.value), allocator);
    }
    schema.AddMember("enum", names, allocator);
    schema.AddMember("x-enum-values", values, allocator);
    return schema;
  }
  schema.AddMember("type", "object", allocator);
  rapidjson::Value properties = Object();
  for (const GoxHost::FieldInfo& field : type.fields) {
    rapidjson::Value property = KindSchema(field.kind, field.elementKind, field.typeName, allocator);
    if (!field.description.empty() && !property.HasMember("$ref"))
      property.AddMember("description", Text(field.description, allocator), allocator);
    if (field.optional && !property.HasMember("$ref")) property.AddMember("nullable", true, allocator);
    properties.AddMember(Text(field.name, allocator), property, allocator);
  }
  schema.AddMember("properties", properties, allocator);
  return schema;
}

rapidjson::Value FailureSchema(Allocator& allocator) {
  rapidjson::Value schema = Typed("object", allocator);
  rapidjson::Value properties = Object();
  properties.AddMember("httpStatus", Typed("integer", allocator, "int32"), allocator);
  properties.AddMember("message", Typed("string", allocator), allocator);
  schema.AddMember("properties", properties, allocator);
  rapidjson::Value required(rapidjson::kArrayType);
  required.PushBack("httpStatus", allocator).PushBack("message", allocator);
  schema.AddMember("required", required, allocator);
  return schema;
}

const char* OperationKey(std::uint32_t method) {
  switch (method) {
    case kHttpMethodDelete:
      return "delete";
    case kHttpMethodGet:
      return "get";
    case kHttpMethodHead:
      return "head";
    case kHttpMethodOptions:
      return "options";
    case kHttpMethodPatch:
      return "patch";
    case kHttpMethodPost:
      return "post";
    case kHttpMethodPut:
      return "put";
    default:
      return nullptr;
  }
}

rapidjson::Value JsonContent(rapidjson::Value schema, Allocator& allocator) {
  rapidjson::Value media = Object();
  media.AddMember("schema", schema, allocator);
  rapidjson::Value content = Object();
  content.AddMember("application/json", media, allocator);
  return content;
}

// The failure answers every operation may give, with the front door's failure shape; 413 only where
// the operation takes a body.
struct FailureAnswerInfo {
  const char* status;
  const char* description;
  bool bodyOnly;
};
constexpr FailureAnswerInfo kFailureAnswers[] = {
    {"400", "The arguments could not be bound to the function (unknown, misplaced, malformed or missing).",
     false},
    {"404", "No function of the module answers the call.", false},
    {"413", "The request body is over gox-host's limit.", true},
    {"500", "The module failed while handling the call; the message names the failed step.", false},
    {"503", "The module refuses calls for now (the feature is off), or gox-host is shutting down.", false},
    {"504", "The module did not answer in time.", false},
};

rapidjson::Value FailureResponse(const char* description, Allocator& allocator) {
  rapidjson::Value failure = Object();
  failure.AddMember("description", rapidjson::StringRef(description), allocator);
  failure.AddMember("content", JsonContent(Reference(kFailureSchema, allocator), allocator), allocator);
  return failure;
}

rapidjson::Value Responses(const GoxHost::EndpointInfo& endpoint, bool hasBody, Allocator& allocator) {
  rapidjson::Value responses = Object();
  rapidjson::Value ok = Object();
  ok.AddMember("description", "The result.", allocator);
  ok.AddMember("content",
               JsonContent(KindSchema(endpoint.returnKind, endpoint.returnElementKind,
                                      endpoint.returnTypeName, allocator),
                           allocator),
               allocator);
  responses.AddMember("200", ok, allocator);
  rapidjson::Value empty = Object();
  empty.AddMember("description", "An empty result.", allocator);
  responses.AddMember("204", empty, allocator);
  for (const FailureAnswerInfo& answer : kFailureAnswers)
    if (hasBody || !answer.bodyOnly)
      responses.AddMember(rapidjson::StringRef(answer.status), FailureResponse(answer.description, allocator),
                          allocator);
  responses.AddMember("default", FailureResponse("Any other failure, with its HTTP status.", allocator),
                      allocator);
  return responses;
}

// Kinds that bind from a JSON text when they come as one query value.
bool IsStructuredKind(std::uint32_t kind) {
  return kind == static_cast<std::uint32_t>(NativeKind::Object) ||
         kind == static_cast<std::uint32_t>(NativeKind::Vector) ||
         kind == static_cast<std::uint32_t>(NativeKind::Struct);
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::string Summary(const GoxHost::EndpointInfo& endpoint, std::string_view methodText) {
  if (!endpoint.description.empty()) return endpoint.description;
  return UpperCase(methodText) + " " + endpoint.path;
}

std::string Description(const GoxHost::EndpointInfo& endpoint, std::string_view methodText) {
  std::string text = "Calls the module's function " + endpoint.name + " (" + UpperCase(methodText) + " " +
                     endpoint.path + ").";
  if (!endpoint.description.empty()) text += " " + endpoint.description;
  if (!endpoint.help.empty()) text += "\n\n" + endpoint.help;
  return text;
}

rapidjson::Value Operation(const GoxHost::EndpointInfo& endpoint, std::string_view methodText,
                           Allocator& allocator) {
  rapidjson::Value operation = Object();
  operation.AddMember("operationId", Text(endpoint.name, allocator), allocator);
  operation.AddMember("summary", Text(Summary(endpoint, methodText), allocator), allocator);
  operation.AddMember("description", Text(Description(endpoint, methodText), allocator), allocator);
  rapidjson::Value tags(rapidjson::kArrayType);
  // The module's short name first, so that a document of several modules groups by module.
  if (!endpoint.module.empty()) tags.PushBack(Text(endpoint.module, allocator), allocator);
  for (const std::string& tag : endpoint.tags)
    tags.PushBack(Text(tag, allocator), allocator);
  operation.AddMember("tags", tags, allocator);

  rapidjson::Value parameters(rapidjson::kArrayType);
  for (std::size_t i = 0; i < endpoint.arguments.size(); ++i) {
    const GoxHost::ArgumentInfo& argument = endpoint.arguments[i];
    const std::uint32_t location = i < endpoint.locations.size() ? endpoint.locations[i] : 0;
    rapidjson::Value schema = KindSchema(argument.kind, argument.elementKind, argument.typeName, allocator);
    if (location == kLocationBody) {
      rapidjson::Value body = Object();
      if (!argument.description.empty())
        body.AddMember("description", Text(argument.description, allocator), allocator);
      body.AddMember("required", !argument.optional, allocator);
      body.AddMember("content", JsonContent(std::move(schema), allocator), allocator);
      operation.AddMember("requestBody", body, allocator);
      continue;
    }
    const bool inTemplate = endpoint.path.find("{" + argument.name + "}") != std::string::npos;
    const char* in = location == kLocationQuery    ? "query"
                     : location == kLocationPath   ? "path"
                     : location == kLocationHeader ? "header"
                     : inTemplate                  ? "path"
                                                   : "query";
    const bool inPath = std::string_view(in) == "path";
    rapidjson::Value parameter = Object();
    parameter.AddMember("name", Text(argument.name, allocator), allocator);
    parameter.AddMember("in", rapidjson::StringRef(in), allocator);
    if (!argument.description.empty())
      parameter.AddMember("description", Text(argument.description, allocator), allocator);
    parameter.AddMember("required", inPath || !argument.optional, allocator);
    // A list or a structure in the query binds from one value holding its JSON text; a repeated
    // parameter (?types=A&types=B) would bind as the last text alone.
    if (std::string_view(in) == "query" && IsStructuredKind(argument.kind))
      parameter.AddMember("content", JsonContent(std::move(schema), allocator), allocator);
    else
      parameter.AddMember("schema", schema, allocator);
    parameters.PushBack(parameter, allocator);
  }
  operation.AddMember("parameters", parameters, allocator);
  operation.AddMember("responses", Responses(endpoint, operation.HasMember("requestBody"), allocator),
                      allocator);
  return operation;
}

// The registered types that the named ones refer to, themselves included, directly or through the
// fields of another such type.
std::set<std::string> ReachableTypeNames(const GoxHost::ApiDescription& description,
                                         std::vector<std::string> pending) {
  std::set<std::string> used;
  while (!pending.empty()) {
    std::string name = std::move(pending.back());
    pending.pop_back();
    if (name.empty() || !used.insert(name).second) continue;
    if (const GoxHost::TypeInfo* type = description.FindType(name))
      for (const GoxHost::FieldInfo& field : type->fields)
        pending.push_back(field.typeName);
  }
  return used;
}

std::set<std::string> OperationTypeNames(const GoxHost::ApiDescription& description) {
  std::vector<std::string> names;
  for (const GoxHost::EndpointInfo& endpoint : description.endpoints) {
    names.push_back(endpoint.returnTypeName);
    for (const GoxHost::ArgumentInfo& argument : endpoint.arguments)
      names.push_back(argument.typeName);
  }
  return ReachableTypeNames(description, std::move(names));
}

std::set<std::string> EventTypeNames(const GoxHost::ApiDescription& description) {
  std::vector<std::string> names;
  for (const GoxHost::EventInfo& event : description.events)
    names.push_back(event.payloadTypeName);
  return ReachableTypeNames(description, std::move(names));
}

// Points every reference to a type of `moved` at `section` instead of components/schemas.
void MoveReferences(rapidjson::Value& value, const std::set<std::string>& moved, std::string_view section,
                    Allocator& allocator) {
  if (value.IsArray()) {
    for (rapidjson::Value& element : value.GetArray())
      MoveReferences(element, moved, section, allocator);
    return;
  }
  if (!value.IsObject()) return;
  // By index: comparing rapidjson's mutable member iterators is ambiguous under C++20.
  for (rapidjson::SizeType i = 0; i < value.MemberCount(); ++i) {
    auto& member = *(value.MemberBegin() + static_cast<std::ptrdiff_t>(i));
    if (member.name == "$ref" && member.value.IsString()) {
      const std::string_view target(member.value.GetString(), member.value.GetStringLength());
      const std::string_view prefix = kSchemasPrefix;
      if (target.starts_with(prefix) && moved.contains(std::string(target.substr(prefix.size()))))
        member.value = Text(std::string(section) + std::string(target.substr(prefix.size())), allocator);
      continue;
    }
    MoveReferences(member.value, moved, section, allocator);
  }
}

}  // namespace

GoxHost::JsonValue BuildOpenApi(const GoxHost::ApiDescription& description, std::string_view title,
                                std::string_view version, std::string_view serverUrl, bool withAdmin) {
  GoxHost::JsonValue result;
  GoxHost::JsonDocument& document = result.Edit();
  Allocator& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("openapi", "3.0.3", allocator);
  rapidjson::Value info = Object();
  info.AddMember("title", Text(title, allocator), allocator);
  info.AddMember("version", Text(version, allocator), allocator);
  info.AddMember("description", rapidjson::StringRef(kInfoDescription), allocator);
  document.AddMember("info", info, allocator);
  if (!serverUrl.empty()) {
    rapidjson::Value server = Object();
    server.AddMember("url", Text(serverUrl, allocator), allocator);
    server.AddMember("description", "gox-host", allocator);
    rapidjson::Value servers(rapidjson::kArrayType);
    servers.PushBack(server, allocator);
    document.AddMember("servers", servers, allocator);
  }

  rapidjson::Value paths = Object();
  rapidjson::Value custom(rapidjson::kArrayType);
  std::set<std::string> tagNames;
  for (const GoxHost::EndpointInfo& endpoint : description.endpoints) {
    const char* key = OperationKey(endpoint.method);
    if (key == nullptr) {
      rapidjson::Value entry = Object();
      entry.AddMember("path", Text(endpoint.path, allocator), allocator);
      entry.AddMember("method", Text(endpoint.customMethod, allocator), allocator);
      entry.AddMember("operation", Operation(endpoint, endpoint.customMethod, allocator), allocator);
      custom.PushBack(entry, allocator);
      continue;
    }
    if (!paths.HasMember(endpoint.path.c_str()))
      paths.AddMember(Text(endpoint.path, allocator), Object(), allocator);
    rapidjson::Value& item = paths[endpoint.path.c_str()];
    if (item.HasMember(key)) continue;  // the first endpoint of a path and method is the one called
    item.AddMember(rapidjson::StringRef(key), Operation(endpoint, key, allocator), allocator);
    tagNames.insert(endpoint.tags.begin(), endpoint.tags.end());
  }
  if (withAdmin) {
    rapidjson::Value item = Object();
    item.AddMember("post", ParsedValue(kReloadOperation, allocator), allocator);
    paths.AddMember(rapidjson::StringRef(kReloadPath), item, allocator);
    tagNames.insert(kAdminTag);
  }
  // Every tag an operation carries is declared, so that tools can group by it.
  rapidjson::Value tags(rapidjson::kArrayType);
  for (const std::string& name : tagNames) {
    rapidjson::Value tag = Object();
    tag.AddMember("name", Text(name, allocator), allocator);
    tag.AddMember("description",
                  Text(name == kAdminTag ? "gox-host's own admin operations."
                                         : "The operations the module registered under " + name + ".",
                       allocator),
                  allocator);
    tags.PushBack(tag, allocator);
  }
  document.AddMember("tags", tags, allocator);
  // gox-host asks for no credentials: every operation is open to the clients it serves.
  document.AddMember("security", rapidjson::Value(rapidjson::kArrayType), allocator);
  document.AddMember("paths", paths, allocator);
  if (!custom.Empty()) document.AddMember("x-custom-methods", custom, allocator);

  // Operations' types go to components/schemas; the types only events carry are grouped apart, since
  // OpenAPI has no place for events and tools would report them as unused components.
  const std::set<std::string> operationTypes = OperationTypeNames(description);
  std::set<std::string> eventOnlyTypes;
  for (const std::string& name : EventTypeNames(description))
    if (!operationTypes.contains(name)) eventOnlyTypes.insert(name);
  rapidjson::Value schemas = Object();
  rapidjson::Value eventSchemas = Object();
  for (const GoxHost::TypeInfo& type : description.types) {
    rapidjson::Value* section = operationTypes.contains(type.name)   ? &schemas
                                : eventOnlyTypes.contains(type.name) ? &eventSchemas
                                                                     : nullptr;
    if (section != nullptr && !section->HasMember(type.name.c_str()))
      section->AddMember(Text(type.name, allocator), TypeSchema(type, allocator), allocator);
  }
  if (!schemas.HasMember(kFailureSchema))
    schemas.AddMember(rapidjson::StringRef(kFailureSchema), FailureSchema(allocator), allocator);
  if (withAdmin && !schemas.HasMember(kReloadSchema))
    schemas.AddMember(rapidjson::StringRef(kReloadSchema), ParsedValue(kReloadSchemaText, allocator),
                      allocator);
  rapidjson::Value components = Object();
  components.AddMember("schemas", schemas, allocator);
  document.AddMember("components", components, allocator);

  rapidjson::Value events(rapidjson::kArrayType);
  for (const GoxHost::EventInfo& event : description.events) {
    rapidjson::Value entry = Object();
    entry.AddMember("name", Text(event.name, allocator), allocator);
    if (!event.description.empty())
      entry.AddMember("description", Text(event.description, allocator), allocator);
    if (!event.payloadTypeName.empty())
      entry.AddMember("payload", Reference(event.payloadTypeName, allocator), allocator);
    events.PushBack(entry, allocator);
  }
  document.AddMember("x-events", events, allocator);
  if (!eventSchemas.ObjectEmpty()) {
    document.AddMember(rapidjson::StringRef(kEventSchemas), eventSchemas, allocator);
    MoveReferences(document, eventOnlyTypes, kEventSchemasPrefix, allocator);
  }
  return result;
}

}  // namespace GoxHostApp
