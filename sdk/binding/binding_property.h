// BindingProperty: the dynamically typed value in which data crosses the plugin boundary.
//
// A value is a tree: scalars at the leaves, collections (indexed from 0) and structures (fields in
// byte-wise ascending name order) inside. All storage a tree needs beyond its root comes from one
// PropertyContext owned by the root: fixed-size records from the context's slab, texts interned once
// per tree, element and field arrays and blob bytes on the module heap.
//
// Reading never fails: a missing element or field, or a value of another kind, reads as the shared
// empty value or the caller's default. Writing through a value of another kind converts it and drops
// its old content.
//
// Memory: when storage cannot be had, the writing operation leaves its value empty, and the tree stays
// marked (AllocationFailed()) until its root is destroyed or replaced; a writing accessor that cannot
// hand out the requested element or field hands out a scratch value that can hold no storage, so the
// caller's later writes are dropped instead of corrupting anything. Callers that build trees check
// AllocationFailed() once at the end. Nothing is thrown.
//
// References and spans into a collection or structure stay valid until an element or field is added to
// it, or it is reset. One thread uses a tree at a time.

#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/module_heap.h"

namespace Quarn {

struct TypeIdentifier;
class PropertyContext;
struct FieldEntry;
class ValueVisitor;

// The kind of a value. The code is what the host core and the error messages see.
enum class BindingKind : std::uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The byte vector a blob holds; its bytes live on the module heap.
using BlobBytes = std::vector<std::uint8_t, HeapAllocator<std::uint8_t>>;

// An enum value: the enumerator's value and the enum type's identifier (owned by the type registry).
struct EnumValue {
  std::int32_t value = 0;
  const TypeIdentifier* type = nullptr;
};

class BindingProperty {
 public:
  // One field seen during iteration, in name order.
  struct FieldView {
    std::string_view name;
    const BindingProperty& value;
  };

  // The fields of a structure in ascending name order; empty for any other kind.
  class FieldRange {
   public:
    class iterator {
     public:
      using difference_type = std::ptrdiff_t;
      using value_type = FieldView;
      iterator() = default;
      iterator(const BindingProperty* owner, std::size_t position) : owner_(owner), position_(position) {}
      FieldView operator*() const { return owner_->FieldAt(position_); }
      iterator& operator++() {
        ++position_;
        return *this;
      }
      iterator operator++(int) {
        iterator before = *this;
        ++position_;
        return before;
      }
      bool operator==(const iterator& other) const { return position_ == other.position_; }

     private:
      const BindingProperty* owner_ = nullptr;
      std::size_t position_ = 0;
    };

    explicit FieldRange(const BindingProperty& owner) : owner_(&owner) {}
    [[nodiscard]] iterator begin() const { return {owner_, 0}; }
    [[nodiscard]] iterator end() const { return {owner_, owner_->FieldCount()}; }

   private:
    const BindingProperty* owner_;
  };

  // An empty root: no context yet, kind Empty, owning the context it will create.
  constexpr BindingProperty() noexcept {}
  // Releases the payload and, for a root, the tree's context.
  ~BindingProperty();

  // A new root holding a deep copy of other.
  BindingProperty(const BindingProperty& other);
  // A new root: takes over other's tree when other is a root (no allocation), else deep-copies it; other
  // is left empty.
  BindingProperty(BindingProperty&& other) noexcept;

  // Deep copy; strings and names are interned again in this value's tree. Copying a value's own
  // ancestor or descendant into it is allowed. Self-assignment does nothing.
  BindingProperty& operator=(const BindingProperty& other);
  // Between two roots the values swap in constant time; otherwise a deep copy. Either way other is
  // reset afterwards. REQUIRES: other is not an ancestor of this value.
  BindingProperty& operator=(BindingProperty&& other) noexcept;

  // The process-wide empty value that reads of missing elements and fields return.
  [[nodiscard]] static const BindingProperty& EmptyValue() noexcept;

  // "empty", "bool", "signed", "unsigned", "float", "string", "blob", "enum", "collection",
  // "structure"; the empty text for any other code.
  [[nodiscard]] static std::string_view KindName(std::uint8_t code) noexcept;
  [[nodiscard]] static std::string_view KindName(BindingKind kind) noexcept {
    return KindName(static_cast<std::uint8_t>(kind));
  }

  // Releases the payload and leaves the value empty; the context stays.
  void Reset() noexcept;

  [[nodiscard]] BindingKind Kind() const noexcept { return static_cast<BindingKind>(kind_); }

  // Empty: 0; string: its length in bytes; blob: its byte count; collection: its elements; structure:
  // its fields; every other kind: 1.
  [[nodiscard]] std::size_t Count() const noexcept;

  // True when some storage of this value's tree could not be allocated, so the tree lacks content.
  [[nodiscard]] bool AllocationFailed() const noexcept;

  // True for a root, which owns its tree's context; false for elements and fields.
  [[nodiscard]] bool OwnsContext() const noexcept { return ownsContext_ != 0; }
  // The tree's context; null until the tree first needs storage.
  [[nodiscard]] const PropertyContext* Context() const noexcept { return context_; }

  // Gives this value, a root that holds no storage yet, storage sized for about `bytes` bytes of small
  // records (a decoder knows roughly what its input will need): a small tree then takes a small
  // block. Nothing when this value is no root or already has storage.
  void SizeStorageFor(std::size_t bytes) noexcept;

  // Makes this value, a root that holds no storage yet, keep its storage in the tree of `storage`, a
  // root, without becoming part of that tree: values that live side by side, such as the arguments of
  // one call, then share one context instead of creating one each. The value is no root afterwards, so
  // moving out of it copies. Nothing when this value is no root or already has a context, or when
  // storage is no root. REQUIRES: storage outlives this value and is not inside it.
  void ShareStorage(BindingProperty& storage) noexcept;
  // The same with a context its holder keeps (see PropertyContext), which outlives this value.
  void ShareStorage(PropertyContext& context) noexcept;

  // Setters: each first resets the value.
  void SetBool(bool value) noexcept;
  void SetSigned(std::int64_t value) noexcept;
  void SetUnsigned(std::uint64_t value) noexcept;
  void SetFloat(double value) noexcept;
  // Interns the text in the tree; the empty text refers to the shared empty record and needs no storage.
  void SetString(std::string_view text) noexcept;
  // Copies the bytes.
  void SetBlob(std::span<const std::uint8_t> bytes) noexcept;
  // Takes over the vector and leaves it empty; on allocation failure the vector is left as it was.
  void SetBlob(BlobBytes&& bytes) noexcept;
  void SetEnum(std::int32_t value, const TypeIdentifier* type) noexcept;

  // Typed reads: the payload when the kind is exactly the one asked for, else the fallback. No kind is
  // converted. Texts and bytes stay valid until the value changes.
  [[nodiscard]] bool GetBool(bool fallback) const noexcept;
  [[nodiscard]] std::int64_t GetSigned(std::int64_t fallback) const noexcept;
  [[nodiscard]] std::uint64_t GetUnsigned(std::uint64_t fallback) const noexcept;
  [[nodiscard]] double GetFloat(double fallback) const noexcept;
  [[nodiscard]] std::string_view GetString(std::string_view fallback) const noexcept;
  [[nodiscard]] std::span<const std::uint8_t> GetBlob(std::span<const std::uint8_t> fallback) const noexcept;
  [[nodiscard]] EnumValue GetEnum(EnumValue fallback) const noexcept;

  // Loose truth for configuration values: bool as is; signed, unsigned, enum non-zero; float not 0 (NaN
  // is true); string exactly "true" or "1"; blob, collection, structure not empty; empty false.
  [[nodiscard]] bool AsBool() const noexcept;
  // Loose text: "true"/"false"; integers in decimal; float as printf "%f"; string as is; blob as
  // Base64; enum value in decimal; empty, collection and structure as the empty text.
  [[nodiscard]] std::string AsText() const;

  // Makes the value an empty collection unless it is a collection already.
  void MakeCollection() noexcept;
  // Room for count elements when the value is a collection; nothing otherwise.
  void Reserve(std::size_t count) noexcept;
  // Element index for writing: makes the value a collection if needed and appends empty elements until
  // the index exists. Example: Element(3) on an empty value gives a collection of four.
  BindingProperty& Element(std::size_t index) noexcept;
  // Element index for reading; the shared empty value when there is none.
  [[nodiscard]] const BindingProperty& Element(std::size_t index) const noexcept;
  // A new empty element at the end: Element(Count()).
  BindingProperty& Append() noexcept;
  // The elements of a collection; empty for any other kind.
  [[nodiscard]] std::span<const BindingProperty> Elements() const noexcept;

  // Makes the value an empty structure unless it is a structure already.
  void MakeStructure() noexcept;
  // Room for count fields when the value is a structure; nothing otherwise. For builders that know how
  // many fields are coming.
  void ReserveFields(std::size_t count) noexcept;
  // Field name for writing: makes the value a structure if needed and inserts an empty field of that
  // name, in name order, when it is absent.
  BindingProperty& Field(std::string_view name) noexcept;
  // Field name for reading; the shared empty value when there is none.
  [[nodiscard]] const BindingProperty& Field(std::string_view name) const noexcept;
  [[nodiscard]] bool HasField(std::string_view name) const noexcept;
  // The field at position (0 to Count() - 1) in name order; an empty name and the empty value outside.
  [[nodiscard]] FieldView FieldAt(std::size_t position) const noexcept;
  [[nodiscard]] FieldRange Fields() const noexcept { return FieldRange(*this); }

  // Walks the value depth-first through the visitor, without recursion. A kind code outside 0 to 9 calls
  // nothing. Up to 520 levels of nesting the walk allocates nothing; deeper, it keeps its place on the
  // module heap, and answers false, its walk cut short, when that memory is refused.
  [[nodiscard]] bool Accept(ValueVisitor& visitor) const;

 private:
  friend struct BindingStorage;
  friend class TreeAssembler;

  // For TreeAssembler, which builds a structure's fields before the structure. Makes this empty value,
  // which has its context, a structure of exactly count fields, taken over as plain bytes from
  // fields[order[0]], fields[order[1]], ... (fields[0], fields[1], ... without order): names of this
  // tree in ascending order, each counted once for its field; values of this tree that are no roots.
  // The caller forgets the taken entries. False, with the tree marked failed and the entries still the
  // caller's, when the array cannot be had.
  bool AdoptFields(FieldEntry* fields, const std::uint32_t* order, std::size_t count) noexcept;

  union Payload {
    bool boolean;
    std::int64_t signedValue;
    std::uint64_t unsignedValue;
    double floatValue;
    void* record;
  };

  // An element or field of the tree whose context is given.
  BindingProperty(PropertyContext* context, bool ownsContext) noexcept
      : context_(context), ownsContext_(ownsContext ? 1 : 0) {}

  [[nodiscard]] std::size_t FieldCount() const noexcept;
  PropertyContext* EnsureContext() noexcept;

  Payload payload_{.unsignedValue = 0};
  PropertyContext* context_ = nullptr;
  std::uint8_t kind_ = 0;
  std::uint8_t ownsContext_ = 1;
};

}  // namespace Quarn
