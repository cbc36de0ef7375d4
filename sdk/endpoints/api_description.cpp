#include "sdk/endpoints/api_description.h"

#include <algorithm>

#include "sdk/endpoints/endpoint_handler.h"

namespace Quarn {
namespace {

// Points each record of an array to the one after it, the last to nothing.
template <class Record>
Record* Link(std::vector<Record>& records) {
  for (std::size_t i = 0; i < records.size(); ++i)
    records[i].next = i + 1 < records.size() ? &records[i + 1] : nullptr;
  return records.empty() ? nullptr : records.data();
}

std::uint32_t Count(std::size_t size) {
  return static_cast<std::uint32_t>(size);
}

// The descriptor a record describes: the secondary one when it has a kind, else the primary.
const TypeDescriptor& Described(const TypeDescriptor& primary, const TypeDescriptor& secondary) {
  return secondary.kind != NativeKind::None ? secondary : primary;
}

std::string_view ReferencedName(const TypeDescriptor& descriptor) {
  const bool refers = descriptor.kind == NativeKind::Vector || descriptor.kind == NativeKind::Enum ||
                      descriptor.kind == NativeKind::Struct;
  return refers && descriptor.typeInfo != nullptr ? std::string_view(descriptor.typeInfo->name) : "";
}

template <class Info>
std::vector<std::shared_ptr<const Info>> ByName(
    const std::unordered_map<std::string, std::shared_ptr<const Info>>& map) {
  std::vector<std::shared_ptr<const Info>> sorted;
  for (const auto& [name, info] : map)
    sorted.push_back(info);
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a->name < b->name; });
  return sorted;
}

}  // namespace

const char* ApiDescription::Text(std::string_view text) {
  return texts_.emplace_back(text).c_str();
}

const char* const* ApiDescription::TextArray(const std::vector<std::string>& texts) {
  if (texts.empty()) return nullptr;
  std::vector<const char*>& array = textArrays_.emplace_back();
  for (const std::string& text : texts)
    array.push_back(Text(text));
  return array.data();
}

std::unique_ptr<ApiDescription> BuildApiDescription(const TypeRegistry& registry) {
  auto description = std::make_unique<ApiDescription>();
  ApiDescription& d = *description;

  std::vector<std::shared_ptr<const FunctionInfo>> functions;
  for (auto& function : ByName(registry.SnapshotFunctions()))
    if (dynamic_cast<const EndpointHandler*>(function->callable.get()) != nullptr)
      functions.push_back(function);

  d.endpoints_.resize(functions.size());
  for (std::size_t e = 0; e < functions.size(); ++e) {
    const FunctionInfo& function = *functions[e];
    PluginEndpointRecord& record = d.endpoints_[e];
    std::vector<PluginArgumentRecord>& arguments = d.arguments_.emplace_back(function.arguments.size());
    std::vector<PluginArgumentLocation>& locations = d.locations_.emplace_back(function.arguments.size());
    for (std::size_t a = 0; a < function.arguments.size(); ++a) {
      const FunctionArgument& argument = function.arguments[a];
      arguments[a].name = d.Text(argument.name);
      arguments[a].description = d.Text(argument.description);
      arguments[a].kind = static_cast<std::uint32_t>(argument.type.kind);
      arguments[a].elementKind = static_cast<std::uint32_t>(argument.type.elementKind);
      arguments[a].typeName = d.Text(ReferencedName(argument.type));
      arguments[a].optional = argument.optional ? 1 : 0;
      locations[a].location = argument.location >= 1 && argument.location <= 5 ? argument.location : 0;
    }
    record.reserved = 0;
    record.name = d.Text(function.name);
    record.nameSpace = d.Text(function.nameSpace);
    record.arguments = Link(arguments);
    record.argumentCount = Count(arguments.size());
    record.returnKind = static_cast<std::uint32_t>(function.returns.kind);
    record.returnElementKind = static_cast<std::uint32_t>(function.returns.elementKind);
    record.returnTypeName = d.Text(ReferencedName(function.returns));
    record.description = d.Text(function.description);
    record.help = d.Text(function.help);
    record.threadSafe = function.threadSafe ? 1 : 0;
    record.asyncTypeName =
        d.Text(function.async && function.returns.typeInfo != nullptr ? function.returns.typeInfo->name : "");
    record.tags = d.TextArray(function.tags);
    record.tagCount = Count(function.tags.size());

    d.contexts_.push_back(MakeCallContext(registry, functions[e]));
    record.context = d.contexts_.back().get();
    record.call = &HandleCall;
    record.locations = Link(locations);
    record.path = d.Text(function.path);
    record.method = function.method >= 1 && function.method <= 8 ? function.method : 0;
    record.flag = 0;  // endpoints register no flag
    record.textLists = nullptr;
    record.textListCount = 0;
    record.customMethod = d.Text(function.method == kHttpMethodOther ? function.customMethod : "");
  }

  std::vector<const TypeInfo*> types;
  for (const auto& [name, type] : registry.SnapshotTypes())
    types.push_back(type);
  std::sort(types.begin(), types.end(),
            [](const TypeInfo* a, const TypeInfo* b) { return a->name < b->name; });
  d.types_.resize(types.size());
  for (std::size_t t = 0; t < types.size(); ++t) {
    const TypeInfo& type = *types[t];
    PluginTypeRecord& record = d.types_[t];
    record.name = d.Text(type.name);
    record.nameSpace = d.Text(type.nameSpace);
    record.size = type.size;
    record.description = d.Text(type.description);
    record.tags = d.TextArray(type.tags);
    record.tagCount = Count(type.tags.size());
    std::vector<PluginFieldRecord>& fields = d.fields_.emplace_back(type.fields.size());
    for (std::size_t f = 0; f < type.fields.size(); ++f) {
      const FieldInfo& field = type.fields[f];
      const TypeDescriptor& described = Described(field.descriptor, field.secondary);
      fields[f].name = d.Text(field.name);
      fields[f].description = d.Text(field.description);
      fields[f].offset = field.offset;
      fields[f].kind = static_cast<std::uint32_t>(described.kind);
      fields[f].elementKind = static_cast<std::uint32_t>(described.elementKind);
      fields[f].typeName = d.Text(ReferencedName(described));
      fields[f].optional = field.optional ? 1 : 0;
    }
    record.fields = Link(fields);
    if (!fields.empty()) {
      record.enumerators = nullptr;
      record.memberCount = Count(fields.size());
      continue;
    }
    std::vector<PluginEnumeratorRecord>& enumerators = d.enumerators_.emplace_back();
    for (const auto& [name, value] : type.values)
      enumerators.push_back(
          PluginEnumeratorRecord{nullptr, d.Text(name), d.Text(value.description), value.value});
    record.enumerators = Link(enumerators);
    record.memberCount = Count(enumerators.size());
  }

  const auto events = ByName(registry.SnapshotEvents());
  d.events_.resize(events.size());
  for (std::size_t v = 0; v < events.size(); ++v) {
    const EventInfo& event = *events[v];
    PluginEventInfoRecord& record = d.events_[v];
    record.name = d.Text(event.name);
    record.nameSpace = d.Text(event.nameSpace);
    record.payloadTypeName = d.Text(event.payload != nullptr ? std::string_view(event.payload->name) : "");
    record.description = d.Text(event.description);
    record.tags = d.TextArray(event.tags);
    record.tagCount = Count(event.tags.size());
  }

  d.header_.endpoints = Link(d.endpoints_);
  d.header_.endpointCount = Count(d.endpoints_.size());
  d.header_.types = Link(d.types_);
  d.header_.typeCount = Count(d.types_.size());
  d.header_.events = Link(d.events_);
  d.header_.eventCount = Count(d.events_.size());
  return description;
}

}  // namespace Quarn
