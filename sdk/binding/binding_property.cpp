#include "sdk/binding/binding_property.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "sdk/binding/base64.h"
#include "sdk/binding/field_index.h"
#include "sdk/binding/frame_stack.h"
#include "sdk/binding/property_context.h"
#include "sdk/binding/value_visitor.h"

namespace Quarn {
namespace {

constexpr std::uint8_t kEmpty = static_cast<std::uint8_t>(BindingKind::Empty);
constexpr std::uint8_t kString = static_cast<std::uint8_t>(BindingKind::String);
constexpr std::uint8_t kBlob = static_cast<std::uint8_t>(BindingKind::Blob);
constexpr std::uint8_t kEnum = static_cast<std::uint8_t>(BindingKind::Enum);
constexpr std::uint8_t kCollection = static_cast<std::uint8_t>(BindingKind::Collection);
constexpr std::uint8_t kStructure = static_cast<std::uint8_t>(BindingKind::Structure);

// Element and field counts are 32-bit; the last value is kept free so that count + 1 never wraps.
constexpr std::size_t kMaxItems = 0xFFFFFFFEu;

// Structures with room for at most this many fields keep them sorted by name in their array; larger
// ones keep them in the order they came and a FieldIndex behind the array.
constexpr std::size_t kSmallFields = 64;

// The slab record of a collection or a structure. For a structure, link holds the tree's context; while
// a tree is torn down it chains the containers still to be released.
struct ContainerHeader {
  void* link;
  void* items;  // collection: BindingProperty[capacity]; structure: FieldEntry[capacity] (+ FieldIndex)
  std::uint32_t count;
  std::uint32_t capacity;
};

struct EnumRecord {
  std::int32_t value;
  const TypeIdentifier* type;
};

// Interns the strings of a copy's source in the target tree. It remembers the translation of the last
// few dozen source records it saw, so the names a tree repeats are translated without a lookup. The
// records it remembers stay alive while a copy is built: nothing is released until it is done.
class RecordTranslator {
 public:
  explicit RecordTranslator(PropertyContext* context) noexcept : context_(context) {}

  // The target's record for the source's; null (and the tree marked failed) when it cannot be stored.
  [[nodiscard]] StringRecord* Translate(const StringRecord& from) noexcept {
    if (&from == StringTable::Empty()) return StringTable::Empty();
    Translation& known = known_[(reinterpret_cast<std::uintptr_t>(&from) >> 4) % kKnown];
    if (known.from == &from) {
      context_->RetainString(known.to);
      return known.to;
    }
    StringRecord* to = context_->Intern(from);
    if (to != nullptr) known = {&from, to};
    return to;
  }

 private:
  static constexpr std::size_t kKnown = 64;
  struct Translation {
    const StringRecord* from = nullptr;
    StringRecord* to = nullptr;
  };
  PropertyContext* context_;
  Translation known_[kKnown];
};

}  // namespace

// The storage rules of BindingProperty, kept out of the public header.
struct BindingStorage {
  using Value = BindingProperty;
  using Payload = BindingProperty::Payload;

  static bool IsContainer(std::uint8_t kind) noexcept { return kind == kCollection || kind == kStructure; }
  static ContainerHeader* Header(const Value& v) noexcept {
    return static_cast<ContainerHeader*>(v.payload_.record);
  }
  static StringRecord* Text(const Value& v) noexcept { return static_cast<StringRecord*>(v.payload_.record); }
  static BlobBytes* Bytes(const Value& v) noexcept { return static_cast<BlobBytes*>(v.payload_.record); }
  static EnumRecord* Enumerator(const Value& v) noexcept {
    return static_cast<EnumRecord*>(v.payload_.record);
  }
  static Value* Items(const ContainerHeader* h) noexcept { return static_cast<Value*>(h->items); }
  static FieldEntry* Entries(const ContainerHeader* h) noexcept { return static_cast<FieldEntry*>(h->items); }
  static bool IsLarge(const ContainerHeader* h) noexcept { return h->capacity > kSmallFields; }
  static FieldIndex* Index(const ContainerHeader* h) noexcept {
    return reinterpret_cast<FieldIndex*>(Entries(h) + h->capacity);
  }
  // The field at position in name order.
  static FieldEntry& EntryAt(const ContainerHeader* h, std::size_t position) noexcept {
    return Entries(h)[IsLarge(h) ? Index(h)->At(position) : position];
  }

  static void Install(Value& v, std::uint8_t kind, void* record) noexcept {
    v.payload_.record = record;
    v.kind_ = kind;
  }

  // The value handed out when a writing accessor cannot provide the element or field asked for. It
  // lives in the refusing context, so it can hold scalars at most, and it is emptied on each hand-out.
  static Value& Scratch() noexcept {
    thread_local Value scratch(PropertyContext::Refusing(), false);
    scratch.Reset();
    return scratch;
  }

  // Releases a string, blob or enum payload.
  static void ReleaseLeaf(PropertyContext* context, const Value& v) noexcept {
    switch (v.kind_) {
      case kString:
        if (Text(v) != StringTable::Empty()) context->ReleaseString(Text(v));
        break;
      case kBlob:
        Bytes(v)->~BlobBytes();
        context->Release(Bytes(v), sizeof(BlobBytes));
        break;
      case kEnum:
        context->Release(Enumerator(v), sizeof(EnumRecord));
        break;
      default:
        break;
    }
  }

  // Releases a container and everything below it without recursion, so that no depth of nesting can
  // exhaust the stack, and without allocating: containers still to be released are chained through
  // their headers' link fields, the structure bit kept in the link's lowest bit. When the context dies
  // with the tree (whole), only the memory outside its slab and string table is freed: element and
  // entry arrays, indexes and blob bytes; slots and strings go with the context.
  static void ReleaseTree(PropertyContext* context, ContainerHeader* top, std::uint8_t kind,
                          bool whole) noexcept {
    auto tagged = [](ContainerHeader* h, std::uint8_t k) {
      return reinterpret_cast<std::uintptr_t>(h) | (k == kStructure ? 1u : 0u);
    };
    top->link = nullptr;
    std::uintptr_t pending = tagged(top, kind);
    auto releaseChild = [&](const Value& child) {
      if (IsContainer(child.kind_)) {
        ContainerHeader* h = Header(child);
        h->link = reinterpret_cast<void*>(pending);
        pending = tagged(h, child.kind_);
      } else if (!whole) {
        ReleaseLeaf(context, child);
      } else if (child.kind_ == kBlob) {
        Bytes(child)->~BlobBytes();
      }
    };
    while (pending != 0) {
      auto* h = reinterpret_cast<ContainerHeader*>(pending & ~std::uintptr_t{1});
      const bool isStructure = (pending & 1) != 0;
      pending = reinterpret_cast<std::uintptr_t>(h->link);
      if (isStructure) {
        FieldEntry* entries = Entries(h);
        for (std::uint32_t i = 0; i < h->count; ++i) {
          if (!whole) context->ReleaseString(entries[i].name);
          releaseChild(entries[i].value);
        }
        if (IsLarge(h)) Index(h)->Clear();
      } else {
        Value* items = Items(h);
        for (std::uint32_t i = 0; i < h->count; ++i)
          releaseChild(items[i]);
      }
      HeapFree(h->items);
      if (!whole) context->Release(h, sizeof(ContainerHeader));
    }
  }

  static std::size_t ItemBytes(std::uint8_t kind, std::size_t capacity) noexcept {
    if (kind != kStructure) return capacity * sizeof(Value);
    return capacity * sizeof(FieldEntry) + (capacity > kSmallFields ? sizeof(FieldIndex) : 0);
  }

  // Makes the (empty) value an empty container with room for capacity items.
  static bool MakeContainer(Value& v, std::uint8_t kind, std::size_t capacity) noexcept {
    PropertyContext* context = v.EnsureContext();
    auto* h = static_cast<ContainerHeader*>(context->Allocate(sizeof(ContainerHeader)));
    if (h == nullptr) return false;
    void* items = nullptr;
    if (capacity > 0 && (items = HeapAllocate(ItemBytes(kind, capacity))) == nullptr) {
      context->Release(h, sizeof(ContainerHeader));
      context->MarkFailed();
      return false;
    }
    ::new (h) ContainerHeader{kind == kStructure ? context : nullptr, items, 0,
                              static_cast<std::uint32_t>(capacity)};
    if (kind == kStructure && IsLarge(h)) ::new (Index(h)) FieldIndex();
    Install(v, kind, h);
    return true;
  }

  // Values hold no pointer into themselves and are reached only through their array, so an array of
  // them moves to a new block as plain bytes.
  static bool Grow(PropertyContext* context, ContainerHeader* h, std::uint8_t kind,
                   std::size_t wanted) noexcept {
    if (wanted > kMaxItems) {
      context->MarkFailed();
      return false;
    }
    std::size_t capacity = std::size_t{h->capacity} * 2;
    if (capacity < (kind == kStructure ? 8u : 4u)) capacity = kind == kStructure ? 8u : 4u;
    if (capacity < wanted) capacity = wanted;
    if (capacity > kMaxItems) capacity = kMaxItems;
    FieldIndex index;
    const bool wasLarge = kind == kStructure && IsLarge(h);
    if (wasLarge) index = *Index(h);
    void* items = HeapReallocate(h->items, ItemBytes(kind, capacity));
    if (items == nullptr) {
      context->MarkFailed();
      return false;
    }
    h->items = items;
    if (kind == kStructure && capacity > kSmallFields && !wasLarge) {
      // The sorted entries become the index's first numbers, in order.
      for (std::uint32_t i = 0; i < h->count; ++i) {
        if (!index.Append(i, Entries(h)[i].name->View())) {
          index.Clear();
          context->MarkFailed();
          return false;
        }
      }
    }
    h->capacity = static_cast<std::uint32_t>(capacity);
    if (kind == kStructure && capacity > kSmallFields) ::new (Index(h)) FieldIndex(index);
    return true;
  }

  // The position in a small structure's array at which name is or belongs. Names arriving in ascending
  // order are placed without a search.
  static std::size_t Position(const ContainerHeader* h, std::string_view name, bool& found) noexcept {
    found = false;
    std::size_t low = 0;
    std::size_t high = h->count;
    if (high > 0) {
      const int last = CompareNames(Entries(h)[high - 1].name->View(), name);
      if (last <= 0) {
        found = last == 0;
        return found ? high - 1 : high;
      }
      --high;
    }
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      const int order = CompareNames(Entries(h)[middle].name->View(), name);
      if (order == 0) {
        found = true;
        return middle;
      }
      if (order < 0)
        low = middle + 1;
      else
        high = middle;
    }
    return low;
  }

  // The field of that name, or null.
  static FieldEntry* Find(const ContainerHeader* h, std::string_view name) noexcept {
    if (IsLarge(h)) {
      FieldIndex::Place place;
      Index(h)->Find(Entries(h), name, place);
      return place.found ? Entries(h) + place.number : nullptr;
    }
    bool found;
    const std::size_t position = Position(h, name, found);
    return found ? Entries(h) + position : nullptr;
  }

  // The field of that name for writing, added in name order when absent; the scratch value when it
  // cannot be added.
  static Value& AddField(PropertyContext* context, ContainerHeader* h, std::string_view name) noexcept {
    if (IsLarge(h)) {
      // Names arriving in ascending order go to the end without a search.
      const int last = h->count == 0 ? -1 : CompareNames(Entries(h)[Index(h)->Last()].name->View(), name);
      if (last == 0) return Entries(h)[Index(h)->Last()].value;
      if (last < 0) return AddLargeField(context, h, name, nullptr);
      FieldIndex::Place place;
      Index(h)->Find(Entries(h), name, place);
      if (place.found) return Entries(h)[place.number].value;
      return AddLargeField(context, h, name, &place);
    }
    bool found;
    const std::size_t position = Position(h, name, found);
    if (found) return Entries(h)[position].value;
    if (h->count == h->capacity) {
      if (!Grow(context, h, kStructure, h->count + std::size_t{1})) return Scratch();
      if (IsLarge(h)) return AddField(context, h, name);
    }
    StringRecord* record = context->Intern(name);
    if (record == nullptr) return Scratch();
    FieldEntry* entries = Entries(h);
    std::memmove(static_cast<void*>(entries + position + 1), entries + position,
                 (h->count - position) * sizeof(FieldEntry));
    ++h->count;
    return (::new (entries + position) FieldEntry{record, Value(context, false)})->value;
  }

  // Adds an absent field to a large structure at the place Find gave, or after every other when place
  // is null.
  static Value& AddLargeField(PropertyContext* context, ContainerHeader* h, std::string_view name,
                              const FieldIndex::Place* place) noexcept {
    if (h->count == h->capacity && !Grow(context, h, kStructure, h->count + std::size_t{1})) return Scratch();
    StringRecord* record = context->Intern(name);
    if (record == nullptr) return Scratch();
    if (!(place != nullptr ? Index(h)->Insert(*place, h->count) : Index(h)->Append(h->count, name))) {
      context->ReleaseString(record);
      context->MarkFailed();
      return Scratch();
    }
    return (::new (Entries(h) + h->count++) FieldEntry{record, Value(context, false)})->value;
  }

  // Copies the value's own payload into the empty value `to`: scalars, strings, blobs and enums
  // completely; a container as an empty one with room for all the source's items.
  static bool CopyShallow(Value& to, const Value& from, RecordTranslator& strings) noexcept {
    switch (from.kind_) {
      case kString: {
        StringRecord* record = strings.Translate(*Text(from));
        if (record == nullptr) return false;
        Install(to, kString, record);
        return true;
      }
      case kBlob:
        to.SetBlob(std::span<const std::uint8_t>(*Bytes(from)));
        return to.kind_ == kBlob;
      case kEnum:
        to.SetEnum(Enumerator(from)->value, Enumerator(from)->type);
        return to.kind_ == kEnum;
      case kCollection:
      case kStructure:
        return MakeContainer(to, from.kind_, Header(from)->count);
      default:
        to.payload_ = from.payload_;
        to.kind_ = from.kind_;
        return true;
    }
  }

  // Deep copy into the empty value `to`, which has its context, depth-first with an explicit stack. On
  // failure `to` holds a well-formed part of the copy and the tree is marked failed.
  static bool CopyTree(Value& to, const Value& from) noexcept {
    PropertyContext* context = to.context_;
    // A whole tree copied into a tree without strings needs about as many as the source has.
    if (from.ownsContext_ != 0 && from.context_ != nullptr && context->Strings().Size() == 0)
      context->ReserveStrings(from.context_->Strings().Size());
    RecordTranslator strings(context);
    if (!CopyShallow(to, from, strings)) return false;
    if (!IsContainer(from.kind_) || Header(from)->count == 0) return true;
    struct Frame {
      const ContainerHeader* from;
      ContainerHeader* to;
      std::uint32_t next;
      bool structure;
    };
    FrameStack<Frame, 64> stack;
    if (!stack.Push({Header(from), Header(to), 0, from.kind_ == kStructure})) {
      context->MarkFailed();
      return false;
    }
    while (!stack.Empty()) {
      Frame& frame = stack.Top();
      if (frame.next == frame.from->count) {
        stack.Pop();
        continue;
      }
      const std::uint32_t i = frame.next++;
      ContainerHeader* target = frame.to;
      const Value* source;
      Value* copy;
      if (frame.structure) {
        const FieldEntry& entry = EntryAt(frame.from, i);
        StringRecord* name = strings.Translate(*entry.name);
        if (name == nullptr) return false;
        // Fields arrive in name order, so they go to the end of the target's order.
        if (IsLarge(target) && !Index(target)->Append(i, name->View())) {
          context->ReleaseString(name);
          context->MarkFailed();
          return false;
        }
        FieldEntry* made = ::new (Entries(target) + i) FieldEntry{name, Value(context, false)};
        source = &entry.value;
        copy = &made->value;
      } else {
        source = Items(frame.from) + i;
        copy = ::new (Items(target) + i) Value(context, false);
      }
      target->count = i + 1;
      if (!CopyShallow(*copy, *source, strings)) return false;
      if (IsContainer(source->kind_) && Header(*source)->count > 0 &&
          !stack.Push({Header(*source), Header(*copy), 0, source->kind_ == kStructure})) {
        context->MarkFailed();
        return false;
      }
    }
    return true;
  }

  // Replaces to's content with a copy of from. The copy is built before to's old content is released,
  // so from may lie inside to. When then is given it is reset between the two steps (the source of a
  // move).
  static void Assign(Value& to, const Value& from, Value* then) noexcept {
    if (!IsContainer(from.kind_) && from.kind_ != kString && from.kind_ != kBlob && from.kind_ != kEnum) {
      const Payload payload = from.payload_;
      const std::uint8_t kind = from.kind_;
      if (then != nullptr) then->Reset();
      to.Reset();
      to.payload_ = payload;
      to.kind_ = kind;
      return;
    }
    Value copy(to.EnsureContext(), false);
    const bool copied = CopyTree(copy, from);
    if (!copied) copy.Reset();
    if (then != nullptr) then->Reset();
    to.Reset();
    to.payload_ = copy.payload_;
    to.kind_ = copy.kind_;
    copy.kind_ = kEmpty;
  }
};

BindingProperty::~BindingProperty() {
  if (ownsContext_ == 0 || context_ == nullptr) {
    Reset();
    return;
  }
  // The root's context dies with it, and with the context every slab slot and interned string.
  if (BindingStorage::IsContainer(kind_))
    BindingStorage::ReleaseTree(context_, BindingStorage::Header(*this), kind_, true);
  else if (kind_ == kBlob)
    BindingStorage::Bytes(*this)->~BlobBytes();
  PropertyContext::Destroy(context_);
}

BindingProperty::BindingProperty(const BindingProperty& other) {
  *this = other;
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
  *this = std::move(other);
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this != &other) BindingStorage::Assign(*this, other, nullptr);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  if (this == &other) return *this;
  if (ownsContext_ != 0 && other.ownsContext_ != 0) {
    std::swap(payload_, other.payload_);
    std::swap(context_, other.context_);
    std::swap(kind_, other.kind_);
    other.Reset();
    return *this;
  }
  BindingStorage::Assign(*this, other, &other);
  return *this;
}

const BindingProperty& BindingProperty::EmptyValue() noexcept {
  static constinit const BindingProperty empty;
  return empty;
}

std::string_view BindingProperty::KindName(std::uint8_t code) noexcept {
  static constexpr std::string_view kNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                                "string", "blob", "enum",   "collection", "structure"};
  return code < std::size(kNames) ? kNames[code] : std::string_view();
}

bool BindingProperty::AdoptFields(FieldEntry* fields, const std::uint32_t* order,
                                  std::size_t count) noexcept {
  PropertyContext* context = EnsureContext();
  if (count > kMaxItems) {
    context->MarkFailed();
    return false;
  }
  if (!BindingStorage::MakeContainer(*this, kStructure, count)) {
    context->MarkFailed();
    return false;
  }
  ContainerHeader* h = BindingStorage::Header(*this);
  FieldEntry* entries = BindingStorage::Entries(h);
  // A wide structure's fields and names are read out of the order they lie in, a cache miss each
  // unless asked for ahead.
  constexpr std::size_t kAhead = 16;
  for (std::size_t i = 0; i < count; ++i) {
    if (order != nullptr && i + kAhead < count) __builtin_prefetch(fields + order[i + kAhead]);
    std::memcpy(static_cast<void*>(entries + i), fields + (order != nullptr ? order[i] : i),
                sizeof(FieldEntry));
  }
  h->count = static_cast<std::uint32_t>(count);
  if (BindingStorage::IsLarge(h)) {
    // Entries in name order: the index lists them as they stand.
    FieldIndex* index = BindingStorage::Index(h);
    for (std::uint32_t i = 0; i < h->count; ++i) {
      if (i + kAhead < h->count) __builtin_prefetch(entries[i + kAhead].name);
      if (!index->Append(i, entries[i].name->View())) {
        // The fields are the tree's now, but cannot all be found: the tree lacks content.
        context->MarkFailed();
        return true;
      }
    }
  }
  return true;
}

void BindingProperty::SizeStorageFor(std::size_t bytes) noexcept {
  if (ownsContext_ != 0 && context_ == nullptr) context_ = PropertyContext::Create(bytes);
}

void BindingProperty::ShareStorage(BindingProperty& storage) noexcept {
  if (ownsContext_ == 0 || context_ != nullptr || storage.ownsContext_ == 0 || &storage == this) return;
  context_ = storage.EnsureContext();
  ownsContext_ = 0;
}

void BindingProperty::ShareStorage(PropertyContext& context) noexcept {
  if (ownsContext_ == 0 || context_ != nullptr) return;
  context_ = &context;
  ownsContext_ = 0;
}

PropertyContext* BindingProperty::EnsureContext() noexcept {
  if (context_ == nullptr) context_ = PropertyContext::Create();
  return context_;
}

void BindingProperty::Reset() noexcept {
  if (kind_ >= kString) {
    if (BindingStorage::IsContainer(kind_)) {
      BindingStorage::ReleaseTree(context_, BindingStorage::Header(*this), kind_, false);
    } else {
      BindingStorage::ReleaseLeaf(context_, *this);
    }
  }
  payload_.unsignedValue = 0;
  kind_ = kEmpty;
}

std::size_t BindingProperty::Count() const noexcept {
  switch (kind_) {
    case kEmpty:
      return 0;
    case kString:
      return BindingStorage::Text(*this)->text.size();
    case kBlob:
      return BindingStorage::Bytes(*this)->size();
    case kCollection:
    case kStructure:
      return BindingStorage::Header(*this)->count;
    default:
      return 1;
  }
}

std::size_t BindingProperty::FieldCount() const noexcept {
  return kind_ == kStructure ? BindingStorage::Header(*this)->count : 0;
}

bool BindingProperty::AllocationFailed() const noexcept {
  return context_ != nullptr && context_->Failed();
}

void BindingProperty::SetBool(bool value) noexcept {
  Reset();
  payload_.boolean = value;
  kind_ = static_cast<std::uint8_t>(BindingKind::Bool);
}

void BindingProperty::SetSigned(std::int64_t value) noexcept {
  Reset();
  payload_.signedValue = value;
  kind_ = static_cast<std::uint8_t>(BindingKind::Signed);
}

void BindingProperty::SetUnsigned(std::uint64_t value) noexcept {
  Reset();
  payload_.unsignedValue = value;
  kind_ = static_cast<std::uint8_t>(BindingKind::Unsigned);
}

void BindingProperty::SetFloat(double value) noexcept {
  Reset();
  payload_.floatValue = value;
  kind_ = static_cast<std::uint8_t>(BindingKind::Float);
}

// The setters below take their copy before the old payload goes: text and bytes may lie in this value's
// own tree (v.SetString(v.GetString())).

void BindingProperty::SetString(std::string_view text) noexcept {
  StringRecord* record = text.empty() ? StringTable::Empty() : EnsureContext()->Intern(text);
  Reset();
  if (record != nullptr) BindingStorage::Install(*this, kString, record);
}

void BindingProperty::SetBlob(std::span<const std::uint8_t> bytes) noexcept {
  PropertyContext* context = EnsureContext();
  void* slot = context->Allocate(sizeof(BlobBytes));
  if (slot == nullptr) {
    Reset();
    return;
  }
  BlobBytes* copy = nullptr;
  try {
    copy = ::new (slot) BlobBytes(bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    context->Release(slot, sizeof(BlobBytes));
    context->MarkFailed();
  }
  Reset();
  if (copy != nullptr) BindingStorage::Install(*this, kBlob, copy);
}

void BindingProperty::SetBlob(BlobBytes&& bytes) noexcept {
  Reset();
  void* slot = EnsureContext()->Allocate(sizeof(BlobBytes));
  if (slot != nullptr) BindingStorage::Install(*this, kBlob, ::new (slot) BlobBytes(std::move(bytes)));
}

void BindingProperty::SetEnum(std::int32_t value, const TypeIdentifier* type) noexcept {
  Reset();
  void* slot = EnsureContext()->Allocate(sizeof(EnumRecord));
  if (slot != nullptr) BindingStorage::Install(*this, kEnum, ::new (slot) EnumRecord{value, type});
}

bool BindingProperty::GetBool(bool fallback) const noexcept {
  return kind_ == static_cast<std::uint8_t>(BindingKind::Bool) ? payload_.boolean : fallback;
}

std::int64_t BindingProperty::GetSigned(std::int64_t fallback) const noexcept {
  return kind_ == static_cast<std::uint8_t>(BindingKind::Signed) ? payload_.signedValue : fallback;
}

std::uint64_t BindingProperty::GetUnsigned(std::uint64_t fallback) const noexcept {
  return kind_ == static_cast<std::uint8_t>(BindingKind::Unsigned) ? payload_.unsignedValue : fallback;
}

double BindingProperty::GetFloat(double fallback) const noexcept {
  return kind_ == static_cast<std::uint8_t>(BindingKind::Float) ? payload_.floatValue : fallback;
}

std::string_view BindingProperty::GetString(std::string_view fallback) const noexcept {
  return kind_ == kString ? BindingStorage::Text(*this)->View() : fallback;
}

std::span<const std::uint8_t> BindingProperty::GetBlob(
    std::span<const std::uint8_t> fallback) const noexcept {
  return kind_ == kBlob ? std::span<const std::uint8_t>(*BindingStorage::Bytes(*this)) : fallback;
}

EnumValue BindingProperty::GetEnum(EnumValue fallback) const noexcept {
  if (kind_ != kEnum) return fallback;
  const EnumRecord* record = BindingStorage::Enumerator(*this);
  return {record->value, record->type};
}

bool BindingProperty::AsBool() const noexcept {
  switch (Kind()) {
    case BindingKind::Bool:
      return payload_.boolean;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
      return payload_.unsignedValue != 0;
    case BindingKind::Float:
      return payload_.floatValue != 0.0;
    case BindingKind::String: {
      const std::string_view text = BindingStorage::Text(*this)->View();
      return text == "true" || text == "1";
    }
    case BindingKind::Enum:
      return BindingStorage::Enumerator(*this)->value != 0;
    case BindingKind::Blob:
    case BindingKind::Collection:
    case BindingKind::Structure:
      return Count() != 0;
    default:
      return false;
  }
}

std::string BindingProperty::AsText() const {
  switch (Kind()) {
    case BindingKind::Bool:
      return payload_.boolean ? "true" : "false";
    case BindingKind::Signed:
      return std::to_string(payload_.signedValue);
    case BindingKind::Unsigned:
      return std::to_string(payload_.unsignedValue);
    case BindingKind::Float: {
      const int length = std::snprintf(nullptr, 0, "%f", payload_.floatValue);
      std::string text(static_cast<std::size_t>(length), '\0');
      std::snprintf(text.data(), text.size() + 1, "%f", payload_.floatValue);
      return text;
    }
    case BindingKind::String:
      return std::string(BindingStorage::Text(*this)->View());
    case BindingKind::Blob:
      return EncodeBase64(*BindingStorage::Bytes(*this));
    case BindingKind::Enum:
      return std::to_string(BindingStorage::Enumerator(*this)->value);
    default:
      return std::string();
  }
}

void BindingProperty::MakeCollection() noexcept {
  if (kind_ == kCollection) return;
  Reset();
  BindingStorage::MakeContainer(*this, kCollection, 0);
}

void BindingProperty::Reserve(std::size_t count) noexcept {
  if (kind_ != kCollection) return;
  ContainerHeader* h = BindingStorage::Header(*this);
  if (count > h->capacity) BindingStorage::Grow(context_, h, kCollection, count);
}

void BindingProperty::ReserveFields(std::size_t count) noexcept {
  if (kind_ != kStructure) return;
  ContainerHeader* h = BindingStorage::Header(*this);
  if (count > h->capacity) BindingStorage::Grow(context_, h, kStructure, count);
}

BindingProperty& BindingProperty::Element(std::size_t index) noexcept {
  if (kind_ != kCollection) {
    Reset();
    if (!BindingStorage::MakeContainer(*this, kCollection, 0)) return BindingStorage::Scratch();
  }
  ContainerHeader* h = BindingStorage::Header(*this);
  if (index < h->count) return BindingStorage::Items(h)[index];
  if (index >= kMaxItems) {
    context_->MarkFailed();
    return BindingStorage::Scratch();
  }
  if (index >= h->capacity && !BindingStorage::Grow(context_, h, kCollection, index + 1))
    return BindingStorage::Scratch();
  BindingProperty* items = BindingStorage::Items(h);
  for (std::size_t i = h->count; i <= index; ++i)
    ::new (items + i) BindingProperty(context_, false);
  h->count = static_cast<std::uint32_t>(index + 1);
  return items[index];
}

const BindingProperty& BindingProperty::Element(std::size_t index) const noexcept {
  if (kind_ != kCollection || index >= BindingStorage::Header(*this)->count) return EmptyValue();
  return BindingStorage::Items(BindingStorage::Header(*this))[index];
}

BindingProperty& BindingProperty::Append() noexcept {
  return Element(kind_ == kCollection ? Count() : 0);
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
  if (kind_ != kCollection) return {};
  const ContainerHeader* h = BindingStorage::Header(*this);
  return {BindingStorage::Items(h), h->count};
}

void BindingProperty::MakeStructure() noexcept {
  if (kind_ == kStructure) return;
  Reset();
  BindingStorage::MakeContainer(*this, kStructure, 0);
}

BindingProperty& BindingProperty::Field(std::string_view name) noexcept {
  if (kind_ == kStructure) return BindingStorage::AddField(context_, BindingStorage::Header(*this), name);
  // The name may lie in the payload about to be released: it is held interned across the reset.
  StringRecord* held = nullptr;
  if (kind_ >= kString && !name.empty()) {
    held = EnsureContext()->Intern(name);
    if (held == nullptr) return BindingStorage::Scratch();
    name = held->View();
  }
  Reset();
  BindingProperty* field = &BindingStorage::Scratch();
  if (BindingStorage::MakeContainer(*this, kStructure, 0))
    field = &BindingStorage::AddField(context_, BindingStorage::Header(*this), name);
  if (held != nullptr) context_->ReleaseString(held);
  return *field;
}

const BindingProperty& BindingProperty::Field(std::string_view name) const noexcept {
  if (kind_ != kStructure) return EmptyValue();
  const FieldEntry* entry = BindingStorage::Find(BindingStorage::Header(*this), name);
  return entry != nullptr ? entry->value : EmptyValue();
}

bool BindingProperty::HasField(std::string_view name) const noexcept {
  return kind_ == kStructure && BindingStorage::Find(BindingStorage::Header(*this), name) != nullptr;
}

BindingProperty::FieldView BindingProperty::FieldAt(std::size_t position) const noexcept {
  if (position >= FieldCount()) return {std::string_view(), EmptyValue()};
  const FieldEntry& entry = BindingStorage::EntryAt(BindingStorage::Header(*this), position);
  return {entry.name->View(), entry.value};
}

namespace {

// Reports a value that is not a container.
void VisitLeaf(const BindingProperty& value, ValueVisitor& visitor) {
  switch (value.Kind()) {
    case BindingKind::Empty:
      visitor.Empty();
      break;
    case BindingKind::Bool:
      visitor.Bool(value.GetBool(false));
      break;
    case BindingKind::Signed:
      visitor.Signed(value.GetSigned(0));
      break;
    case BindingKind::Unsigned:
      visitor.Unsigned(value.GetUnsigned(0));
      break;
    case BindingKind::Float:
      visitor.Float(value.GetFloat(0));
      break;
    case BindingKind::String:
      visitor.String(value.GetString({}));
      break;
    case BindingKind::Blob:
      visitor.Blob(value.GetBlob({}));
      break;
    case BindingKind::Enum: {
      const EnumValue enumerator = value.GetEnum({});
      visitor.Enum(enumerator.value, enumerator.type);
      break;
    }
    default:
      break;
  }
}

// Containers open during a walk. Decoded trees nest at most 512 levels, so their walks fit the inline
// frames and allocate nothing.
constexpr std::size_t kInlineWalkFrames = 520;

// How many fields ahead of the one visited a walk asks for the next records.
constexpr std::uint32_t kWalkLookAhead = 2;

}  // namespace

bool BindingProperty::Accept(ValueVisitor& visitor) const {
  struct Frame {
    const ContainerHeader* header;
    std::uint32_t next;
    bool structure;
  };
  FrameStack<Frame, kInlineWalkFrames> stack;
  // Opens a container (false when the stack cannot grow) or reports a leaf.
  auto enter = [&](const BindingProperty& value) {
    if (value.kind_ == kCollection) {
      visitor.BeginCollection(BindingStorage::Header(value)->count);
      return stack.Push({BindingStorage::Header(value), 0, false});
    }
    if (value.kind_ == kStructure) {
      visitor.BeginStructure(BindingStorage::Header(value)->count);
      return stack.Push({BindingStorage::Header(value), 0, true});
    }
    VisitLeaf(value, visitor);
    return true;
  };
  // Closes item i of the container on top of the stack.
  auto leave = [&](std::uint32_t i) {
    const Frame& frame = stack.Top();
    if (frame.structure)
      visitor.EndField(BindingStorage::EntryAt(frame.header, i).name->View());
    else
      visitor.EndElement(i);
  };
  if (ownsContext_ != 0 && context_ != nullptr && BindingStorage::IsContainer(kind_))
    context_->SlabInUse().PrefetchArea();
  if (!enter(*this)) return false;
  while (!stack.Empty()) {
    Frame& frame = stack.Top();
    if (frame.next == frame.header->count) {
      if (frame.structure)
        visitor.EndStructure();
      else
        visitor.EndCollection();
      stack.Pop();
      if (!stack.Empty()) leave(stack.Top().next - 1);
      continue;
    }
    const std::uint32_t i = frame.next++;
    const BindingProperty* item;
    if (frame.structure) {
      const FieldEntry& entry = BindingStorage::EntryAt(frame.header, i);
      // The names and string values of a tree are records apart from its entries: ask for those of a
      // field a little ahead while the visitor writes this one.
      if (i + kWalkLookAhead < frame.header->count && !BindingStorage::IsLarge(frame.header)) {
        const FieldEntry& ahead = BindingStorage::Entries(frame.header)[i + kWalkLookAhead];
        __builtin_prefetch(ahead.name);
        if (ahead.value.kind_ == kString) __builtin_prefetch(ahead.value.payload_.record);
      }
      visitor.BeginField(entry.name->View());
      item = &entry.value;
    } else {
      visitor.BeginElement(i);
      item = BindingStorage::Items(frame.header) + i;
    }
    const bool container = BindingStorage::IsContainer(item->kind_);
    if (!enter(*item)) return false;
    if (!container) leave(i);
  }
  return true;
}

}  // namespace Quarn
