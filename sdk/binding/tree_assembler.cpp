#include "sdk/binding/tree_assembler.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/property_context.h"

namespace Quarn {
namespace {

// Structures up to this many fields sort on the stack.
constexpr std::size_t kInlineOrder = 64;

// The first twelve bytes of a field's name, zero-padded, the first the most significant, and the
// field's number: fields whose keys differ are in the order of their keys.
struct SortKey {
  std::uint64_t prefix;  // bytes 0 to 7
  std::uint32_t next;    // bytes 8 to 11
  std::uint32_t index;

  [[nodiscard]] bool SameText(const SortKey& other) const noexcept {
    return prefix == other.prefix && next == other.next;
  }
  [[nodiscard]] bool Below(const SortKey& other) const noexcept {
    return prefix != other.prefix ? prefix < other.prefix : next < other.next;
  }
};

// The first eight bytes of a record's text as a key's prefix, read with one load and the bytes past its
// end masked off: every record's text can be read 16 bytes from its start.
std::uint64_t PrefixOf(const StringRecord& record) noexcept {
  const std::size_t length = record.text.size();
  if (length == 0) return 0;
  std::uint64_t prefix;
  std::memcpy(&prefix, record.text.data(), sizeof prefix);
  if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
  return length < 8 ? prefix & ~std::uint64_t{0} << (64 - 8 * length) : prefix;
}

// The key of a record's text: its prefix, and the next four bytes read with a second load.
SortKey KeyOf(const StringRecord& record, std::size_t index) noexcept {
  const std::size_t length = record.text.size();
  const char* const text = record.text.data();
  SortKey key{PrefixOf(record), 0, static_cast<std::uint32_t>(index)};
  if (length <= 8) return key;
  std::memcpy(&key.next, text + 8, sizeof key.next);
  if constexpr (std::endian::native == std::endian::little) key.next = __builtin_bswap32(key.next);
  if (length < 12) key.next &= ~std::uint32_t{0} << (32 - 8 * (length - 8));
  return key;
}

// Structures of up to this many fields are ordered by a sorting network when their names differ in
// their first seven bytes.
constexpr std::size_t kNetworkFields = 16;

// Calls compare(a, b) for each comparator of Batcher's odd-even merge sort for N inputs, N a power of
// two: 19 for 8, 63 for 16.
template <std::size_t N, class Compare>
constexpr void ForEachComparator(Compare compare) {
  for (std::size_t p = 1; p < N; p *= 2)
    for (std::size_t k = p; k >= 1; k /= 2)
      for (std::size_t j = k % p; j + k < N; j += 2 * k)
        for (std::size_t i = 0; i < k && i + j + k < N; ++i)
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) compare(i + j, i + j + k);
}
template <std::size_t N>
constexpr std::size_t ComparatorCount() {
  std::size_t count = 0;
  ForEachComparator<N>([&count](std::size_t, std::size_t) { ++count; });
  return count;
}
template <std::size_t N>
constexpr auto Comparators() {
  std::array<std::pair<std::uint8_t, std::uint8_t>, ComparatorCount<N>()> comparators{};
  std::size_t count = 0;
  ForEachComparator<N>([&comparators, &count](std::size_t a, std::size_t b) {
    comparators[count++] = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
  });
  return comparators;
}
template <std::size_t N>
inline constexpr auto kComparators = Comparators<N>();
static_assert(kComparators<8>.size() == 19 && kComparators<16>.size() == 63, "Batcher's network sizes");

template <std::size_t N, std::size_t... I>
[[gnu::always_inline]] inline void RunNetwork(std::uint64_t* keys, std::index_sequence<I...>) noexcept {
  // Each comparator is two selections, not a branch: the order of the names is not predictable.
  const auto compare = [keys](std::size_t a, std::size_t b) {
    const std::uint64_t x = keys[a];
    const std::uint64_t y = keys[b];
    keys[a] = x < y ? x : y;
    keys[b] = x < y ? y : x;
  };
  (compare(kComparators<N>[I].first, kComparators<N>[I].second), ...);
}

// Sorts N keys in ascending order.
template <std::size_t N>
void SortByNetwork(std::uint64_t* keys) noexcept {
  RunNetwork<N>(keys, std::make_index_sequence<kComparators<N>.size()>{});
}

// What the network made of a structure's fields: they came in order, it ordered them, or it left them
// to the general sort.
enum class NetworkOrder { kInOrder, kOrdered, kLeft };

// Orders up to kNetworkFields fields by the first seven bytes of their names, the field's number in the
// eighth: order[i] is the field that goes i-th, unless the names came in order. kLeft when two names
// share their first seven bytes, which the network cannot tell apart (a repeated name among them).
NetworkOrder OrderByNetwork(const FieldEntry* fields, std::size_t count, std::uint32_t* order) noexcept {
  std::uint64_t keys[kNetworkFields];
  bool ascending = true;
  for (std::size_t i = 0; i < count; ++i) {
    keys[i] = (PrefixOf(*fields[i].name) & ~std::uint64_t{0xff}) | i;
    if (i != 0 && keys[i - 1] >> 8 >= keys[i] >> 8) ascending = false;
  }
  if (ascending) return NetworkOrder::kInOrder;
  // Fillers above every key sort past the fields.
  std::fill(keys + count, keys + kNetworkFields, ~std::uint64_t{0});
  if (count <= 8)
    SortByNetwork<8>(keys);
  else
    SortByNetwork<kNetworkFields>(keys);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0 && keys[i - 1] >> 8 == keys[i] >> 8) return NetworkOrder::kLeft;
    order[i] = static_cast<std::uint32_t>(keys[i] & 0xff);
  }
  return NetworkOrder::kOrdered;
}

// Whether the keys, made in field order, are in ascending name order.
bool Ascending(const SortKey* keys, const FieldEntry* fields, std::size_t count) noexcept {
  for (std::size_t i = 1; i < count; ++i) {
    if (keys[i - 1].Below(keys[i])) continue;
    if (!keys[i - 1].SameText(keys[i]) ||
        CompareNames(fields[i - 1].name->View(), fields[i].name->View()) >= 0)
      return false;
  }
  return true;
}

}  // namespace

TreeAssembler::TreeAssembler(BindingProperty& root) noexcept
    : root_(root),
      context_(root.EnsureContext()),
      fields_(reinterpret_cast<FieldEntry*>(inlineFields_)),
      scratch_(PropertyContext::Refusing(), false) {}

TreeAssembler::~TreeAssembler() {
  Release(0);
  if (key_ != nullptr) context_->ReleaseString(key_);
  if (!InlineFields()) HeapFree(fields_);
  if (frames_ != inlineFrames_) HeapFree(frames_);
}

void TreeAssembler::Release(std::size_t from) noexcept {
  for (std::size_t i = from; i < count_; ++i) {
    fields_[i].value.~BindingProperty();
    context_->ReleaseString(fields_[i].name);
  }
  count_ = from;
}

FieldEntry* TreeAssembler::Gather() noexcept {
  if (count_ == capacity_) {
    const std::size_t capacity = capacity_ * 2;
    // Entries hold no pointer into themselves, so they move as plain bytes.
    const bool wasInline = InlineFields();
    void* grown = HeapReallocate(wasInline ? nullptr : fields_, capacity * sizeof(FieldEntry));
    if (grown == nullptr) {
      context_->MarkFailed();
      return nullptr;
    }
    if (wasInline) std::memcpy(grown, inlineFields_, sizeof inlineFields_);
    fields_ = static_cast<FieldEntry*>(grown);
    capacity_ = capacity;
  }
  StringRecord* name = key_ != nullptr ? key_ : StringTable::Empty();
  key_ = nullptr;
  return ::new (fields_ + count_++) FieldEntry{name, BindingProperty(context_, false)};
}

BindingProperty& TreeAssembler::Slot() noexcept {
  if (depth_ == 0) return root_;
  const Frame& top = frames_[depth_ - 1];
  if (!top.structure) return Container(top).Append();
  FieldEntry* field = Gather();
  if (field != nullptr) return field->value;
  scratch_.Reset();
  return scratch_;
}

void TreeAssembler::Key(std::string_view name) noexcept {
  if (key_ != nullptr) context_->ReleaseString(key_);
  key_ = name.empty() ? nullptr : context_->Intern(name);
}

bool TreeAssembler::Open(BindingKind kind) noexcept {
  if (depth_ == kMaxNestingDepth) return false;
  if (depth_ == kInlineFrames && frames_ == inlineFrames_) {
    void* frames = HeapAllocate(kMaxNestingDepth * sizeof(Frame));
    if (frames == nullptr) {
      context_->MarkFailed();
      return false;
    }
    std::memcpy(frames, inlineFrames_, sizeof inlineFrames_);
    frames_ = static_cast<Frame*>(frames);
  }
  Frame frame{nullptr, 0, count_, kind == BindingKind::Structure};
  if (depth_ != 0 && frames_[depth_ - 1].structure) {
    if (Gather() == nullptr) return false;
    frame.slot = count_ - 1;
    frame.start = count_;
  } else {
    frame.direct = &Slot();
  }
  if (!frame.structure) Container(frame).MakeCollection();
  frames_[depth_++] = frame;
  return true;
}

bool TreeAssembler::Close() noexcept {
  const Frame frame = frames_[--depth_];
  return frame.structure ? CloseStructure(frame) : true;
}

bool TreeAssembler::CloseStructure(const Frame& frame) noexcept {
  FieldEntry* fields = fields_ + frame.start;
  const std::size_t count = count_ - frame.start;
  SortKey inlineKeys[kInlineOrder];
  std::uint32_t inlineOrder[kInlineOrder];
  const bool small = count <= kInlineOrder;
  SortKey* keys = inlineKeys;
  std::uint32_t* order = nullptr;
  // A structure of a few fields is ordered by the network unless two names share their first seven
  // bytes. Past it, names that arrive in ascending order need no sort: a small structure's keys tell,
  // and a large one is checked by its names first, so that one in order needs no keys at all.
  bool sorted = true;
  const NetworkOrder network =
      count <= kNetworkFields ? OrderByNetwork(fields, count, inlineOrder) : NetworkOrder::kLeft;
  if (network == NetworkOrder::kOrdered) {
    order = inlineOrder;
  } else if (network == NetworkOrder::kLeft) {
    if (small) {
      for (std::size_t i = 0; i < count; ++i)
        keys[i] = KeyOf(*fields[i].name, i);
      sorted = Ascending(keys, fields, count);
    } else {
      for (std::size_t i = 1; i < count && sorted; ++i)
        sorted = CompareNames(fields[i - 1].name->View(), fields[i].name->View()) < 0;
    }
  }
  if (!sorted) {
    order = small ? inlineOrder : static_cast<std::uint32_t*>(HeapAllocate(count * sizeof(std::uint32_t)));
    if (!small) keys = static_cast<SortKey*>(HeapAllocate(count * sizeof(SortKey)));
    if (order == nullptr || keys == nullptr) {
      if (!small) {
        HeapFree(order);
        HeapFree(keys);
      }
      context_->MarkFailed();
      return false;
    }
    if (!small)
      for (std::size_t i = 0; i < count; ++i)
        keys[i] = KeyOf(*fields[i].name, i);
    // Most names differ in their first twelve bytes, which the keys hold in order: the records are
    // read only for names that share them.
    std::sort(keys, keys + count, [fields](const SortKey& a, const SortKey& b) {
      if (!a.SameText(b)) return a.Below(b);
      return CompareNames(fields[a.index].name->View(), fields[b.index].name->View()) < 0;
    });
    for (std::size_t i = 0; i < count; ++i)
      order[i] = keys[i].index;
    // Equal texts share one record, so a repeated name is the same record side by side, and its keys
    // are equal: only fields whose keys are equal are read.
    for (std::size_t i = 1; i < count && !repeated_; ++i)
      repeated_ = keys[i - 1].SameText(keys[i]) && fields[order[i - 1]].name == fields[order[i]].name;
  }
  bool adopted = false;
  if (!repeated_) adopted = Container(frame).AdoptFields(fields, order, count);
  if (order != nullptr && order != inlineOrder) {
    HeapFree(order);
    HeapFree(keys);
  }
  if (!adopted) return false;
  count_ = frame.start;  // the entries are the structure's now
  return true;
}

}  // namespace Quarn
