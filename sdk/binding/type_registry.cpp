#include "sdk/binding/type_registry.h"

#include <utility>

#include "sdk/binding/builtin_types.h"
#include "sdk/binding/help_types.h"

namespace Quarn {
namespace {

constexpr std::uint32_t kFnvOffsetBasis = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;

std::uint32_t FnvStep(std::uint32_t hash, unsigned char byte) {
  return (hash ^ byte) * kFnvPrime;
}

// FNV-1a of the text up to its first NUL, the hash member names are matched by.
std::uint32_t NameHashOf(std::string_view name) {
  std::uint32_t hash = kFnvOffsetBasis;
  for (const char c : name) {
    if (c == '\0') break;
    hash = FnvStep(hash, static_cast<unsigned char>(c));
  }
  return hash;
}

template <class Record>
void AppendTag(Record& record, std::string_view tag) {
  if (!tag.empty()) record.tags.emplace_back(tag);
}

}  // namespace

FunctionCallable::~FunctionCallable() = default;

TypeBuilder& TypeBuilder::AddField(std::string_view name, std::string_view description, std::uint32_t offset,
                                   const TypeIdentifier& type, const TypeDescriptor& descriptor,
                                   const TypeDescriptor& secondary, std::uint32_t flags,
                                   const FieldConverter* converter, bool optional) {
  if (alreadyRegistered_) return *this;
  FieldInfo& field = info_->fields.emplace_back();
  field.name = name;
  field.nameHash = NameHashOf(name);
  field.description = description;
  field.type = &type;
  field.offset = offset;
  field.descriptor = descriptor;
  if (secondary.kind != NativeKind::None) field.secondary = secondary;
  field.flags = flags;
  field.converter = converter;
  field.owner = info_;
  field.optional = optional;
  return *this;
}

TypeBuilder& TypeBuilder::AddTypedField(std::string_view name, std::string_view description,
                                        std::uint32_t offset, const TypeIdentifier& type, NativeKind kind,
                                        NativeKind elementKind, std::uint32_t referencedId,
                                        const TypeDescriptor& secondary, std::uint32_t flags,
                                        const FieldConverter* converter, bool optional) {
  if (alreadyRegistered_) return *this;
  const auto refersToType = [](NativeKind k) { return k == NativeKind::Struct || k == NativeKind::Enum; };
  TypeDescriptor descriptor{kind, elementKind, nullptr};
  if (refersToType(kind) || refersToType(elementKind))
    descriptor.typeInfo = registry_->FindTypeById(referencedId);
  return AddField(name, description, offset, type, descriptor, secondary, flags, converter, optional);
}

TypeBuilder& TypeBuilder::AddEnumValue(std::string_view name, std::int32_t value,
                                       std::string_view description) {
  if (alreadyRegistered_) return *this;
  auto found = info_->values.find(name);
  if (found == info_->values.end()) found = info_->values.emplace(std::string(name), EnumValueInfo{}).first;
  EnumValueInfo& enumerator = found->second;
  enumerator.value = value;
  enumerator.name = name;
  enumerator.description = description;
  enumerator.owner = info_;
  return *this;
}

TypeBuilder& TypeBuilder::SetDescription(std::string_view description) {
  if (!alreadyRegistered_) info_->description = description;
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(std::string_view tag) {
  if (!alreadyRegistered_) AppendTag(*info_, tag);
  return *this;
}

EventBuilder& EventBuilder::SetDescription(std::string_view description) {
  if (!alreadyRegistered_) info_->description = description;
  return *this;
}

EventBuilder& EventBuilder::AddTag(std::string_view tag) {
  if (!alreadyRegistered_) AppendTag(*info_, tag);
  return *this;
}

std::size_t TypeRegistry::IdentifierHash::operator()(std::uint32_t id) const {
  std::uint32_t hash = kFnvOffsetBasis;
  for (int shift = 0; shift < 32; shift += 8)
    hash = FnvStep(hash, static_cast<unsigned char>(id >> shift));
  return hash;
}

TypeRegistry::TypeRegistry() = default;
TypeRegistry::~TypeRegistry() = default;

void TypeRegistry::Initialize() {
  RegisterHelpTypes(*this);
  RegisterBuiltinTypes(*this);
  std::lock_guard lock(mutex_);
  initialized_ = true;
}

TypeBuilder TypeRegistry::RegisterType(std::uint32_t size, std::string_view name, const TypeIdentifier& type,
                                       bool isEnum) {
  std::lock_guard lock(mutex_);
  if (const auto found = typesByName_.find(name); found != typesByName_.end())
    return TypeBuilder(*this, *found->second, true);
  auto info = std::make_unique<TypeInfo>();
  info->size = size;
  info->isEnum = isEnum;
  info->name = name;
  info->identifier = type.id;
  info->identifierRef = &type;
  info->owner = this;
  TypeInfo& record = *info;
  typesByName_.emplace(record.name, std::move(info));
  if (type.id != kReservedTypeId) typesById_.insert_or_assign(type.id, &record);
  return TypeBuilder(*this, record, false);
}

EventBuilder TypeRegistry::RegisterEvent(std::string_view name, const TypeInfo* payload) {
  std::lock_guard lock(mutex_);
  if (const auto found = events_.find(name); found != events_.end()) return EventBuilder(found->second, true);
  auto event = std::make_shared<EventInfo>();
  event->name = name;
  event->payload = payload;
  events_.emplace(event->name, event);
  return EventBuilder(std::move(event), false);
}

FunctionRegistration TypeRegistry::RegisterFunction(FunctionInfo function, bool detached) {
  function.owner = this;
  if (detached) return {std::make_shared<FunctionInfo>(std::move(function)), false};
  // A refused record stays in the parameter and dies after the mutex is released.
  std::lock_guard lock(mutex_);
  if (const auto found = functions_.find(function.name); found != functions_.end())
    return {found->second, true};
  auto record = std::make_shared<FunctionInfo>(std::move(function));
  functions_.emplace(record->name, record);
  ++changeCount_;
  return {std::move(record), false};
}

const TypeInfo* TypeRegistry::FindTypeById(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  const auto found = typesById_.find(id);
  return found == typesById_.end() ? nullptr : found->second;
}

const TypeInfo* TypeRegistry::FindTypeByName(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = typesByName_.find(name);
  return found == typesByName_.end() ? nullptr : found->second.get();
}

std::shared_ptr<const FunctionInfo> TypeRegistry::FindFunction(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = functions_.find(name);
  return found == functions_.end() ? nullptr : found->second;
}

std::shared_ptr<const EventInfo> TypeRegistry::FindEvent(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto found = events_.find(name);
  return found == events_.end() ? nullptr : found->second;
}

std::optional<std::string> TypeRegistry::FindEnumName(std::uint32_t id, std::int32_t value) const {
  const TypeInfo* type = FindTypeById(id);
  if (type == nullptr) return std::nullopt;
  for (const auto& [name, enumerator] : type->values)
    if (enumerator.value == value) return name;
  return std::nullopt;
}

TypeRegistry::TypeMap TypeRegistry::SnapshotTypes() const {
  std::lock_guard lock(mutex_);
  TypeMap copy;
  for (const auto& [name, info] : typesByName_)
    copy.emplace(name, info.get());
  return copy;
}

TypeRegistry::FunctionMap TypeRegistry::SnapshotFunctions() const {
  std::lock_guard lock(mutex_);
  return FunctionMap(functions_.begin(), functions_.end());
}

TypeRegistry::EventMap TypeRegistry::SnapshotEvents() const {
  std::lock_guard lock(mutex_);
  return EventMap(events_.begin(), events_.end());
}

bool TypeRegistry::UnregisterFunction(const FunctionInfo& function) {
  std::shared_ptr<FunctionInfo> removed;  // destroyed after the mutex is released
  std::lock_guard lock(mutex_);
  const auto found = functions_.find(function.name);
  if (found == functions_.end() || found->second.get() != &function) return false;
  removed = std::move(found->second);
  functions_.erase(found);
  ++changeCount_;
  return true;
}

bool TypeRegistry::UnregisterEvent(std::string_view name) {
  std::shared_ptr<EventInfo> removed;
  std::lock_guard lock(mutex_);
  const auto found = events_.find(name);
  if (found == events_.end()) return false;
  removed = std::move(found->second);
  events_.erase(found);
  return true;
}

void TypeRegistry::Clear() {
  decltype(events_) events;
  decltype(typesByName_) types;
  decltype(functions_) functions;
  {
    std::lock_guard lock(mutex_);
    if (!initialized_) return;
    initialized_ = false;
    events.swap(events_);
    types.swap(typesByName_);
    typesById_.clear();
    functions.swap(functions_);
    changeCount_ += functions.size();
  }
  // The records die here, outside the mutex, in the order events, types, functions.
  events.clear();
  types.clear();
  functions.clear();
}

std::uint64_t TypeRegistry::ChangeCount() const {
  std::lock_guard lock(mutex_);
  return changeCount_;
}

}  // namespace Quarn
