// TypeRegistry: the registered native structures and enumerations, the exposed functions and the
// events of a plugin, with the builders through which they are registered.
//
// Conversion walks a structure's members through these records, the API description flattens them for
// the host core and the serializers read enumerator names from them. Registration happens at start-up;
// types stay until Clear(), functions and events may be removed earlier.
//
// Threading: one mutex guards the registry's maps and is held only for a single lookup or insertion.
// A type's fields, enumerators and tags are filled by the registering thread through its builder,
// without the mutex, before anyone uses the type. Type records never move and stay valid until Clear();
// function and event records are shared, so a record found or snapshotted stays valid while it is held
// even when it is unregistered meanwhile.

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sdk/binding/field_converter.h"
#include "sdk/binding/native_converters.h"
#include "sdk/binding/native_kind.h"
#include "sdk/binding/type_identifier.h"

namespace Quarn {

class TypeRegistry;

// FieldInfo::flags bits.
// Converting native to BindingProperty leaves the member out when its converted value is empty.
inline constexpr std::uint32_t kFieldOmitWhenEmpty = 1;
// Converting BindingProperty to native fails when the member is missing or empty.
inline constexpr std::uint32_t kFieldRequired = 2;

// One member of a registered structure.
struct FieldInfo {
  std::string name;
  std::uint32_t nameHash = 0;  // FNV-1a of name, up to its first NUL
  std::string description;
  const TypeIdentifier* type = nullptr;  // identity of the member's native type
  std::uint32_t offset = 0;              // byte offset inside the native structure
  TypeDescriptor descriptor;
  TypeDescriptor secondary;                   // all zero unless the registration gave one with a kind
  std::uint32_t flags = 0;                    // kFieldOmitWhenEmpty, kFieldRequired
  const FieldConverter* converter = nullptr;  // shared, not owned; null when registered without one
  const TypeInfo* owner = nullptr;
  bool optional = false;  // the native type is an optional wrapper
};

// One enumerator of a registered enumeration.
struct EnumValueInfo {
  std::int32_t value = 0;
  std::string name;
  std::string description;
  const TypeInfo* owner = nullptr;
};

// One registered structure or enumeration. Records are created by the registry only and never move, so
// descriptors and members refer to them by address.
struct TypeInfo {
  TypeInfo() = default;
  TypeInfo(const TypeInfo&) = delete;
  TypeInfo& operator=(const TypeInfo&) = delete;

  std::uint32_t size = 0;  // sizeof the native type
  bool isEnum = false;
  std::string name;  // the registry key
  std::uint32_t identifier = 0;
  const TypeIdentifier* identifierRef = nullptr;
  std::string nameSpace;  // empty for the SDK's own types
  std::string description;
  std::vector<std::string> tags;                             // in the order added
  std::vector<FieldInfo> fields;                             // structures: in registration order
  std::map<std::string, EnumValueInfo, std::less<>> values;  // enumerations: in byte-wise name order
  TypeRegistry* owner = nullptr;
};

// The invocable part of an exposed function. The endpoint framework derives its handlers from it and
// defines how they are called; the registry only owns the object and destroys it with the function.
class FunctionCallable {
 public:
  virtual ~FunctionCallable();
};

// One declared argument of an exposed function.
struct FunctionArgument {
  std::string name;
  std::string description;  // the argument's help text
  TypeDescriptor type;
  bool optional = false;
  std::uint32_t location = 0;  // where the endpoint framework takes the argument from; 0 is any
};

// One exposed function. The caller fills the record and hands it to RegisterFunction; the endpoint
// framework then sets its route members on the record it gets back, before the function is used.
struct FunctionInfo {
  std::string name;
  std::vector<FunctionArgument> arguments;  // in declaration order
  TypeDescriptor returns;                   // for an asynchronous function, the type of its eventual result
  std::string nameSpace;
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;
  std::vector<std::string> tags;
  std::unique_ptr<FunctionCallable> callable;
  std::string path;          // route template; empty means the function's name
  std::uint32_t method = 0;  // HTTP method code; 0 accepts any method
  std::string customMethod;  // method text when method is the "other" code
  TypeRegistry* owner = nullptr;
};

// One event the plugin fires, with the type of its payload.
struct EventInfo {
  std::string name;
  const TypeInfo* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// Fills a freshly registered type. When the name was registered before, the builder refers to the
// first record and every operation does nothing, so a second registration changes nothing.
class TypeBuilder {
 public:
  TypeBuilder(TypeRegistry& registry, TypeInfo& info, bool alreadyRegistered)
      : registry_(&registry), info_(&info), alreadyRegistered_(alreadyRegistered) {}

  // The record this builder refers to: the new one, or the first registration's.
  [[nodiscard]] const TypeInfo& Info() const { return *info_; }
  [[nodiscard]] bool AlreadyRegistered() const { return alreadyRegistered_; }

  // Appends a member. secondary is kept only when its kind is not None.
  TypeBuilder& AddField(std::string_view name, std::string_view description, std::uint32_t offset,
                        const TypeIdentifier& type, const TypeDescriptor& descriptor,
                        const TypeDescriptor& secondary, std::uint32_t flags, const FieldConverter* converter,
                        bool optional);

  // Appends a member of native type T, whose identifier, descriptor, converter and optional flag follow
  // from TypeTraits<T>. A referenced structure or enumeration must be registered already; otherwise the
  // descriptor's typeInfo stays null. Example:
  //   builder.AddField<decltype(Item::count)>("count", offsetof(Item, count), "How many");
  template <class T>
  TypeBuilder& AddField(std::string_view name, std::uint32_t offset, std::string_view description = {},
                        std::uint32_t flags = 0, const TypeDescriptor& secondary = {}) {
    using Traits = TypeTraits<T>;
    if constexpr (Traits::kKind == NativeKind::Enum && !Traits::kOptional)
      static_assert(sizeof(T) == sizeof(std::int32_t), "registered enumerations are 32 bits wide");
    return AddTypedField(name, description, offset, TypeIdOf<T>(), Traits::kKind, Traits::kElementKind,
                         Traits::kReferencedId, secondary, flags, ConverterFor<T>(), Traits::kOptional);
  }

  // Adds an enumerator, or overwrites value and description of the one with the same name.
  TypeBuilder& AddEnumValue(std::string_view name, std::int32_t value, std::string_view description = {});
  TypeBuilder& SetDescription(std::string_view description);
  // Appends tag; the empty text adds nothing.
  TypeBuilder& AddTag(std::string_view tag);

 private:
  TypeBuilder& AddTypedField(std::string_view name, std::string_view description, std::uint32_t offset,
                             const TypeIdentifier& type, NativeKind kind, NativeKind elementKind,
                             std::uint32_t referencedId, const TypeDescriptor& secondary, std::uint32_t flags,
                             const FieldConverter* converter, bool optional);

  TypeRegistry* registry_;
  TypeInfo* info_;
  bool alreadyRegistered_;
};

// Fills a freshly registered event; does nothing when the name was registered before.
class EventBuilder {
 public:
  EventBuilder(std::shared_ptr<EventInfo> info, bool alreadyRegistered)
      : info_(std::move(info)), alreadyRegistered_(alreadyRegistered) {}

  [[nodiscard]] const EventInfo& Info() const { return *info_; }
  [[nodiscard]] bool AlreadyRegistered() const { return alreadyRegistered_; }

  EventBuilder& SetDescription(std::string_view description);
  // Appends tag; the empty text adds nothing.
  EventBuilder& AddTag(std::string_view tag);

 private:
  std::shared_ptr<EventInfo> info_;
  bool alreadyRegistered_;
};

// What RegisterFunction returns: the record now known under the name (the first one when the name was
// registered before), or the caller's own record when it was registered detached.
struct FunctionRegistration {
  std::shared_ptr<FunctionInfo> function;
  bool alreadyRegistered = false;
};

// The registry of types, functions and events. See the file comment for threading.
class TypeRegistry {
 public:
  using TypeMap = std::unordered_map<std::string, const TypeInfo*>;
  using FunctionMap = std::unordered_map<std::string, std::shared_ptr<const FunctionInfo>>;
  using EventMap = std::unordered_map<std::string, std::shared_ptr<const EventInfo>>;

  TypeRegistry();
  ~TypeRegistry();
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  // Registers the SDK's own types: the API help types first, then the builtin types. Clear() works only
  // on a registry set up this way.
  void Initialize();

  // Registers a type under name, or returns a do-nothing builder on the first record when name is
  // taken. The type is found by identifier too unless its identifier is kReservedTypeId; a type
  // registered later under the same identifier takes that lookup over.
  [[nodiscard]] TypeBuilder RegisterType(std::uint32_t size, std::string_view name,
                                         const TypeIdentifier& type, bool isEnum);

  // RegisterType with T's size, identity and enumeration flag.
  template <class T>
  [[nodiscard]] TypeBuilder RegisterType(std::string_view name) {
    return RegisterType(sizeof(T), name, TypeIdOf<T>(), TypeTraits<T>::kKind == NativeKind::Enum);
  }

  // Registers an event with payload type payload (may be null), or returns a do-nothing builder on the
  // first record when name is taken.
  [[nodiscard]] EventBuilder RegisterEvent(std::string_view name, const TypeInfo* payload);

  // Registers function under its name and counts a change. Detached, the record is returned to the
  // caller without being entered. When the name is taken, function is dropped and the first record is
  // returned with alreadyRegistered set.
  [[nodiscard]] FunctionRegistration RegisterFunction(FunctionInfo function, bool detached = false);

  // Lookups; each returns null (or nothing) for what was never registered.
  [[nodiscard]] const TypeInfo* FindTypeById(std::uint32_t id) const;
  [[nodiscard]] const TypeInfo* FindTypeByName(std::string_view name) const;
  [[nodiscard]] std::shared_ptr<const FunctionInfo> FindFunction(std::string_view name) const;
  [[nodiscard]] std::shared_ptr<const EventInfo> FindEvent(std::string_view name) const;
  // The first enumerator, in name order, of the type found by id whose value is value.
  [[nodiscard]] std::optional<std::string> FindEnumName(std::uint32_t id, std::int32_t value) const;

  // Copies of the by-name maps, for walking without the mutex.
  [[nodiscard]] TypeMap SnapshotTypes() const;
  [[nodiscard]] FunctionMap SnapshotFunctions() const;
  [[nodiscard]] EventMap SnapshotEvents() const;

  // Removes function when it is the record registered under its name, and counts a change. The record
  // and its callable are destroyed once the last holder lets go. Returns whether it was removed.
  bool UnregisterFunction(const FunctionInfo& function);
  // Removes the event registered under name; returns whether there was one.
  bool UnregisterEvent(std::string_view name);
  // Removes every event, type and function; does nothing unless Initialize() ran since the last Clear().
  void Clear();

  // Grows with every function registration and removal, so that a cached description of the functions
  // can tell that it is stale.
  [[nodiscard]] std::uint64_t ChangeCount() const;

 private:
  // Buckets identifiers by the FNV-1a hash of their four bytes, least significant first.
  struct IdentifierHash {
    std::size_t operator()(std::uint32_t id) const;
  };
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };

  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<TypeInfo>, NameHash, std::equal_to<>> typesByName_;
  std::unordered_map<std::uint32_t, const TypeInfo*, IdentifierHash> typesById_;
  std::unordered_map<std::string, std::shared_ptr<FunctionInfo>, NameHash, std::equal_to<>> functions_;
  std::unordered_map<std::string, std::shared_ptr<EventInfo>, NameHash, std::equal_to<>> events_;
  std::uint64_t changeCount_ = 0;
  bool initialized_ = false;
};

}  // namespace Quarn
