#include "tools/gox_host/openapi.h"

#include <cctype>
#include <string>

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
  schema.AddMember("$ref", Text("#/components/schemas/" + std::string(typeName), allocator), allocator);
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

rapidjson::Value Responses(const GoxHost::EndpointInfo& endpoint, Allocator& allocator) {
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
  rapidjson::Value failure = Object();
  failure.AddMember("description", "A failure, with its HTTP status.", allocator);
  failure.AddMember("content", JsonContent(Reference(kFailureSchema, allocator), allocator), allocator);
  responses.AddMember("default", failure, allocator);
  return responses;
}

rapidjson::Value Operation(const GoxHost::EndpointInfo& endpoint, Allocator& allocator) {
  rapidjson::Value operation = Object();
  operation.AddMember("operationId", Text(endpoint.name, allocator), allocator);
  if (!endpoint.description.empty())
    operation.AddMember("summary", Text(endpoint.description, allocator), allocator);
  if (!endpoint.help.empty()) operation.AddMember("description", Text(endpoint.help, allocator), allocator);
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
    // A list in the query comes as the parameter repeated.
    if (std::string_view(in) == "query" && argument.kind == static_cast<std::uint32_t>(NativeKind::Vector)) {
      parameter.AddMember("style", "form", allocator);
      parameter.AddMember("explode", true, allocator);
    }
    parameter.AddMember("schema", schema, allocator);
    parameters.PushBack(parameter, allocator);
  }
  operation.AddMember("parameters", parameters, allocator);
  operation.AddMember("responses", Responses(endpoint, allocator), allocator);
  return operation;
}

}  // namespace

GoxHost::JsonValue BuildOpenApi(const GoxHost::ApiDescription& description, std::string_view title,
                                std::string_view version) {
  GoxHost::JsonValue result;
  GoxHost::JsonDocument& document = result.Edit();
  Allocator& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("openapi", "3.0.3", allocator);
  rapidjson::Value info = Object();
  info.AddMember("title", Text(title, allocator), allocator);
  info.AddMember("version", Text(version, allocator), allocator);
  document.AddMember("info", info, allocator);

  rapidjson::Value paths = Object();
  rapidjson::Value custom(rapidjson::kArrayType);
  for (const GoxHost::EndpointInfo& endpoint : description.endpoints) {
    const char* key = OperationKey(endpoint.method);
    if (key == nullptr) {
      rapidjson::Value entry = Object();
      entry.AddMember("path", Text(endpoint.path, allocator), allocator);
      entry.AddMember("method", Text(endpoint.customMethod, allocator), allocator);
      entry.AddMember("operation", Operation(endpoint, allocator), allocator);
      custom.PushBack(entry, allocator);
      continue;
    }
    if (!paths.HasMember(endpoint.path.c_str()))
      paths.AddMember(Text(endpoint.path, allocator), Object(), allocator);
    rapidjson::Value& item = paths[endpoint.path.c_str()];
    if (item.HasMember(key)) continue;  // the first endpoint of a path and method is the one called
    item.AddMember(rapidjson::StringRef(key), Operation(endpoint, allocator), allocator);
  }
  document.AddMember("paths", paths, allocator);
  if (!custom.Empty()) document.AddMember("x-custom-methods", custom, allocator);

  rapidjson::Value schemas = Object();
  for (const GoxHost::TypeInfo& type : description.types)
    if (!schemas.HasMember(type.name.c_str()))
      schemas.AddMember(Text(type.name, allocator), TypeSchema(type, allocator), allocator);
  if (!schemas.HasMember(kFailureSchema))
    schemas.AddMember(rapidjson::StringRef(kFailureSchema), FailureSchema(allocator), allocator);
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
  return result;
}

}  // namespace GoxHostApp
