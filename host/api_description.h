// ApiDescription: the module's API description, read from its plain records into C++ structures.
//
// The module hands over arrays of packed records at load. The reader copies every record and text,
// walks each array by its count, checks that the records' next pointers agree with the array order
// (each points to the following record, the last is null) and notes every disagreement or null
// pointer as a problem instead of following it.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_abi.h"

namespace GoxHost {

struct ArgumentInfo {
  std::string name;
  std::string description;
  std::uint32_t kind = 0;
  std::uint32_t elementKind = 0;
  std::string typeName;
  bool optional = false;
};

struct EndpointInfo {
  // The function part.
  std::string name;
  std::string nameSpace;
  std::vector<ArgumentInfo> arguments;
  std::uint32_t returnKind = 0;
  std::uint32_t returnElementKind = 0;
  std::string returnTypeName;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string asyncTypeName;
  std::vector<std::string> tags;
  // The endpoint part.
  void* context = nullptr;
  PluginCallEntry call = nullptr;
  std::vector<std::uint32_t> locations;  // one per argument
  std::string path;                      // the path template
  std::uint32_t method = 0;
  std::uint8_t flag = 0;
  std::vector<std::vector<std::string>> textLists;
  std::string customMethod;
  // The short name of the module whose description holds the endpoint (set by the host core).
  std::string module;
};

struct FieldInfo {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  std::uint32_t kind = 0;
  std::uint32_t elementKind = 0;
  std::string typeName;
  bool optional = false;
};

struct EnumeratorInfo {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};

struct TypeInfo {
  std::string name;
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<FieldInfo> fields;            // structures
  std::vector<EnumeratorInfo> enumerators;  // enumerations
};

struct EventInfo {
  std::string name;
  std::string nameSpace;
  std::string payloadTypeName;
  std::string description;
  std::vector<std::string> tags;
};

// The whole description, plus what was wrong with it.
struct ApiDescription {
  std::vector<EndpointInfo> endpoints;
  std::vector<TypeInfo> types;
  std::vector<EventInfo> events;
  std::vector<std::string> problems;  // empty for a sound description

  // The endpoint with that path template and method code, or null.
  [[nodiscard]] const EndpointInfo* FindEndpoint(std::string_view pathTemplate, std::uint32_t method) const;
  // The type of that name, or null.
  [[nodiscard]] const TypeInfo* FindType(std::string_view name) const;
};

// Reads the description whose header the module returned; a null header gives an empty description
// with one problem.
//
//   ApiDescription api = ReadApiDescription(registration.description);
//   if (!api.problems.empty()) ...
//   const EndpointInfo* items = api.FindEndpoint("/gox-loadouts/v2/items/{id}/{inventoryType}",
//   kHttpMethodGet);
[[nodiscard]] ApiDescription ReadApiDescription(const PluginApiDescription* header);

}  // namespace GoxHost
