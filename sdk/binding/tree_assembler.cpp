#include "sdk/binding/tree_assembler.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/property_context.h"

namespace Quarn {
namespace {

// Structures up to this many fields sort on the stack.
constexpr std::size_t kInlineOrder = 64;

struct SortKey {
  std::uint64_t prefix;  // the name's first eight bytes, the first the most significant, zero-padded
  std::uint32_t index;
};

std::uint64_t Prefix(std::string_view name) noexcept {
  std::uint64_t prefix = 0;
  const std::size_t length = name.size() < 8 ? name.size() : 8;
  for (std::size_t i = 0; i < length; ++i)
    prefix |= std::uint64_t{static_cast<unsigned char>(name[i])} << (56 - 8 * i);
  return prefix;
}

}  // namespace

TreeAssembler::TreeAssembler(BindingProperty& root) noexcept
    : root_(root), context_(root.EnsureContext()), scratch_(PropertyContext::Refusing(), false) {}

TreeAssembler::~TreeAssembler() {
  Release(0);
  if (key_ != nullptr) context_->ReleaseString(key_);
  HeapFree(fields_);
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
    const std::size_t capacity = capacity_ < 32 ? 32 : capacity_ * 2;
    // Entries hold no pointer into themselves, so they move as plain bytes.
    void* grown = HeapReallocate(fields_, capacity * sizeof(FieldEntry));
    if (grown == nullptr) {
      context_->MarkFailed();
      return nullptr;
    }
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
  // Names that arrive in ascending order need no sort.
  bool sorted = true;
  for (std::size_t i = 1; i < count && sorted; ++i)
    sorted = CompareNames(fields[i - 1].name->View(), fields[i].name->View()) < 0;

  SortKey inlineKeys[kInlineOrder];
  std::uint32_t inlineOrder[kInlineOrder];
  SortKey* keys = inlineKeys;
  std::uint32_t* order = nullptr;
  if (!sorted) {
    const bool small = count <= kInlineOrder;
    order = small ? inlineOrder : static_cast<std::uint32_t*>(HeapAllocate(count * sizeof(std::uint32_t)));
    keys = small ? inlineKeys : static_cast<SortKey*>(HeapAllocate(count * sizeof(SortKey)));
    if (order == nullptr || keys == nullptr) {
      if (!small) {
        HeapFree(order);
        HeapFree(keys);
      }
      context_->MarkFailed();
      return false;
    }
    for (std::size_t i = 0; i < count; ++i)
      keys[i] = SortKey{Prefix(fields[i].name->View()), static_cast<std::uint32_t>(i)};
    // Most names differ in their first eight bytes, which the keys hold in order: the records are read
    // only for names that share them.
    std::sort(keys, keys + count, [fields](const SortKey& a, const SortKey& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return CompareNames(fields[a.index].name->View(), fields[b.index].name->View()) < 0;
    });
    for (std::size_t i = 0; i < count; ++i)
      order[i] = keys[i].index;
    // Equal texts share one record, so a repeated name is the same record side by side.
    for (std::size_t i = 1; i < count && !repeated_; ++i)
      repeated_ = fields[order[i - 1]].name == fields[order[i]].name;
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
