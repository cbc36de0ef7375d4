#include "host/api_description.h"

namespace GoxHost {
namespace {

constexpr const char* kNullHeader = "the module returned no API description";
constexpr const char* kNullArray = "%1 array is null but its count is %2";
constexpr const char* kBrokenChain = "%1 record %2 does not point to the record after it";
constexpr const char* kUnterminatedChain = "%1 record %2 is the last but points to another record";
constexpr const char* kNullText = "%1 record %2 has a null %3 text";

std::string Fill(std::string text, std::string_view a, std::string_view b, std::string_view c = {}) {
  const std::string_view values[] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    const std::string placeholder = "%" + std::to_string(i + 1);
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, placeholder.size(), values[i]);
  }
  return text;
}

class Walker {
 public:
  explicit Walker(std::vector<std::string>& problems) : problems_(problems) {}

  // Calls `visit` for each of the `count` records of the array at `first`, checking the next chain.
  template <class Record, class Visit>
  void Array(const Record* first, std::uint32_t count, std::string_view what, Visit visit) {
    if (count == 0) return;
    if (first == nullptr) {
      problems_.push_back(Fill(kNullArray, what, std::to_string(count)));
      return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const Record& record = first[i];
      const Record* expected = i + 1 < count ? &first[i + 1] : nullptr;
      if (record.next != expected)
        problems_.push_back(Fill(expected ? kBrokenChain : kUnterminatedChain, what, std::to_string(i)));
      what_ = what;
      index_ = i;
      visit(record);
    }
  }

  std::string Text(const char* text, std::string_view member) {
    if (text != nullptr) return text;
    problems_.push_back(Fill(kNullText, what_, std::to_string(index_), member));
    return {};
  }

  std::vector<std::string> Texts(const char* const* texts, std::uint32_t count, std::string_view what) {
    std::vector<std::string> result;
    if (count > 0 && texts == nullptr) {
      problems_.push_back(Fill(kNullArray, what, std::to_string(count)));
      return result;
    }
    for (std::uint32_t i = 0; i < count; ++i)
      result.push_back(Text(texts[i], what));
    return result;
  }

 private:
  std::vector<std::string>& problems_;
  // The record being read, for messages.
  std::string_view what_;
  std::uint32_t index_ = 0;
};

ArgumentInfo ReadArgument(Walker& walk, const PluginArgumentRecord& record) {
  return ArgumentInfo{walk.Text(record.name, "name"),
                      walk.Text(record.description, "description"),
                      record.kind,
                      record.elementKind,
                      walk.Text(record.typeName, "type name"),
                      record.optional != 0};
}

EndpointInfo ReadEndpoint(Walker& walk, const PluginEndpointRecord& record) {
  EndpointInfo info;
  info.name = walk.Text(record.name, "name");
  info.nameSpace = walk.Text(record.nameSpace, "nameSpace");
  info.returnKind = record.returnKind;
  info.returnElementKind = record.returnElementKind;
  info.returnTypeName = walk.Text(record.returnTypeName, "return type name");
  info.description = walk.Text(record.description, "description");
  info.help = walk.Text(record.help, "help");
  info.threadSafe = record.threadSafe != 0;
  info.asyncTypeName = walk.Text(record.asyncTypeName, "async type name");
  info.tags = walk.Texts(record.tags, record.tagCount, "endpoint tag");
  info.context = record.context;
  info.call = record.call;
  info.path = walk.Text(record.path, "path");
  info.method = record.method;
  info.flag = record.flag;
  info.customMethod = walk.Text(record.customMethod, "custom method");
  walk.Array(record.arguments, record.argumentCount, "argument", [&](const PluginArgumentRecord& argument) {
    info.arguments.push_back(ReadArgument(walk, argument));
  });
  walk.Array(record.locations, record.argumentCount, "argument location",
             [&](const PluginArgumentLocation& location) {
               info.locations.push_back(std::uint32_t{location.location});
             });
  walk.Array(record.textLists, record.textListCount, "text list", [&](const PluginTextList& list) {
    info.textLists.push_back(walk.Texts(list.texts, list.count, "text list entry"));
  });
  return info;
}

TypeInfo ReadType(Walker& walk, const PluginTypeRecord& record) {
  TypeInfo info;
  info.name = walk.Text(record.name, "name");
  info.nameSpace = walk.Text(record.nameSpace, "nameSpace");
  info.size = record.size;
  info.description = walk.Text(record.description, "description");
  info.tags = walk.Texts(record.tags, record.tagCount, "type tag");
  if (record.fields != nullptr) {
    walk.Array(record.fields, record.memberCount, "field", [&](const PluginFieldRecord& field) {
      info.fields.push_back(FieldInfo{
          walk.Text(field.name, "name"), walk.Text(field.description, "description"), field.offset,
          field.kind, field.elementKind, walk.Text(field.typeName, "type name"), field.optional != 0});
    });
  } else {
    walk.Array(record.enumerators, record.memberCount, "enumerator", [&](const PluginEnumeratorRecord& item) {
      info.enumerators.push_back(EnumeratorInfo{walk.Text(item.name, "name"),
                                                walk.Text(item.description, "description"), item.value});
    });
  }
  return info;
}

EventInfo ReadEvent(Walker& walk, const PluginEventInfoRecord& record) {
  return EventInfo{walk.Text(record.name, "name"), walk.Text(record.nameSpace, "nameSpace"),
                   walk.Text(record.payloadTypeName, "payload type name"),
                   walk.Text(record.description, "description"),
                   walk.Texts(record.tags, record.tagCount, "event tag")};
}

}  // namespace

const EndpointInfo* ApiDescription::FindEndpoint(std::string_view pathTemplate, std::uint32_t method) const {
  for (const EndpointInfo& endpoint : endpoints)
    if (endpoint.path == pathTemplate && endpoint.method == method) return &endpoint;
  return nullptr;
}

const TypeInfo* ApiDescription::FindType(std::string_view name) const {
  for (const TypeInfo& type : types)
    if (type.name == name) return &type;
  return nullptr;
}

ApiDescription ReadApiDescription(const PluginApiDescription* header) {
  ApiDescription description;
  if (header == nullptr) {
    description.problems.emplace_back(kNullHeader);
    return description;
  }
  Walker walk(description.problems);
  walk.Array(header->endpoints, header->endpointCount, "endpoint", [&](const PluginEndpointRecord& record) {
    description.endpoints.push_back(ReadEndpoint(walk, record));
  });
  walk.Array(header->types, header->typeCount, "type",
             [&](const PluginTypeRecord& record) { description.types.push_back(ReadType(walk, record)); });
  walk.Array(header->events, header->eventCount, "event", [&](const PluginEventInfoRecord& record) {
    description.events.push_back(ReadEvent(walk, record));
  });
  return description;
}

}  // namespace GoxHost
