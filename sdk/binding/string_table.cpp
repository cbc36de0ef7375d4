#include "sdk/binding/string_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <new>
#include <type_traits>

namespace Quarn {
namespace {

StringRecord gEmptyRecord{RecordText(), 2166136261u, 0};

// Whether two texts are equal. Most interned texts are short, and a call to memcmp costs more than
// comparing them here: up to sixteen bytes take two loads from each side, overlapping when shorter,
// none of them outside either text.
[[gnu::always_inline]] inline bool SameText(std::string_view a, std::string_view b) noexcept {
  const std::size_t size = a.size();
  if (size != b.size()) return false;
  if (size > 16) return std::memcmp(a.data(), b.data(), size) == 0;
  const auto differ = [&a, &b](std::size_t at, auto word) {
    auto other = word;
    std::memcpy(&word, a.data() + at, sizeof word);
    std::memcpy(&other, b.data() + at, sizeof other);
    return word ^ other;
  };
  if (size >= 8) return (differ(0, std::uint64_t{}) | differ(size - 8, std::uint64_t{})) == 0;
  if (size >= 4) return (differ(0, std::uint32_t{}) | differ(size - 4, std::uint32_t{})) == 0;
  if (size >= 2) return (differ(0, std::uint16_t{}) | differ(size - 2, std::uint16_t{})) == 0;
  return size == 0 || a[0] == b[0];
}

}  // namespace

void StringTable::ClearSlots(Slot* slots, std::size_t count) noexcept {
  static_assert(std::is_trivially_copyable_v<Slot>, "a free slot is all zero bytes");
  std::memset(static_cast<void*>(slots), 0, count * sizeof(Slot));
}

StringTable::~StringTable() {
  for (std::size_t i = 0; heapTexts_ != 0 && i <= mask_; ++i) {
    if (!slots_[i].heapText) continue;
    --heapTexts_;
    HeapFree(const_cast<char*>(slots_[i].record->text.data()));
  }
  if (slots_ != inlineSlots_) HeapFree(slots_);
}

StringRecord* StringTable::Empty() noexcept {
  return &gEmptyRecord;
}

std::uint32_t StringTable::Hash(std::string_view text) noexcept {
  std::uint32_t hash = 2166136261u;
  for (const char c : text) {
    if (c == '\0') break;
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return hash;
}

StringRecord* StringTable::Intern(std::string_view text) noexcept {
  if (text.empty()) return Empty();
  if (!recentOn_) {
    if (slots_ == nullptr || slots_ == inlineSlots_) return Intern(text, Hash(text));
    std::fill(std::begin(recent_), std::end(recent_), nullptr);
    recentOn_ = true;
  }
  StringRecord*& recent = recent_[RecentSlot(text)];
  if (recent != nullptr && SameText(recent->View(), text)) {
    ++recent->references;
    return recent;
  }
  bool seen = false;
  StringRecord* record = Intern(text, Hash(text), &seen);
  if (seen) recent = record;
  return record;
}

StringRecord* StringTable::Intern(const StringRecord& record) noexcept {
  if (&record == Empty()) return Empty();
  // A record of ours is found in the same walk as an equal text, so one walk serves both cases.
  return Intern(record.View(), record.hash);
}

StringRecord* StringTable::Intern(std::string_view text, std::uint32_t hash, bool* seen) noexcept {
  if (slots_ == nullptr) {
    static_assert(kInlineSlots == std::size_t{1} << (32 - 26), "shift_ starts at 32 - log2(kInlineSlots)");
    ClearSlots(inlineSlots_, kInlineSlots);
    slots_ = inlineSlots_;
  }
  std::size_t i = Home(hash);
  for (; slots_[i].record != nullptr; i = (i + 1) & mask_) {
    StringRecord* r = slots_[i].record;
    if (slots_[i].hash == hash && (r->View().data() == text.data() || SameText(r->View(), text))) {
      if (seen != nullptr) *seen = true;
      ++r->references;
      return r;
    }
  }
  // At most half full after this record: grow first, and when that is refused, go on while a free slot
  // is left to end every probe.
  if ((size_ + 1) * 2 > mask_ + 1) {
    const std::size_t slots = mask_ + 1;
    const std::size_t grown = slots * (slots > 2 * kInlineSlots && slots < kQuickGrowthSlots ? 4 : 2);
    if (Grow(grown)) {
      for (i = Home(hash); slots_[i].record != nullptr; i = (i + 1) & mask_) {
      }
    } else if (size_ + 2 > slots) {
      return nullptr;
    }
  }
  void* slot = slab_.Allocate(sizeof(StringRecord));
  if (slot == nullptr) return nullptr;
  auto* record = ::new (slot) StringRecord{RecordText(), hash, 1};
  if (!PlaceText(record->text, text)) {
    slab_.Release(slot, sizeof(StringRecord));
    return nullptr;
  }
  const bool heapText = record->text.OnHeap();
  slots_[i] = Slot{record, hash, heapText};
  heapTexts_ += heapText ? 1 : 0;
  ++size_;
  return record;
}

bool StringTable::PlaceText(RecordText& placed, std::string_view text) noexcept {
  const std::size_t size = text.size();
  if (size > RecordText::kLongest) return false;
  char* bytes = placed.inline_;
  RecordText::Place place = RecordText::kInline;
  if (size > RecordText::kInlineCapacity) {
    if (size <= RecordText::kLongestInSlab && size_ >= kSlabTextsFrom) {
      bytes = static_cast<char*>(slab_.Allocate(size + 1));
      place = RecordText::kInSlab;
    } else {
      bytes = static_cast<char*>(HeapAllocate(size + 1));
      place = RecordText::kOnHeap;
    }
    if (bytes == nullptr) return false;
  }
  if (size != 0) std::memcpy(bytes, text.data(), size);
  bytes[size] = '\0';
  placed.data_ = bytes;
  placed.size_ = size;
  placed.place_ = place;
  return true;
}

void StringTable::FreeText(const RecordText& placed) noexcept {
  if (placed.OnHeap())
    HeapFree(const_cast<char*>(placed.data_));
  else if (placed.InSlab())
    slab_.Release(const_cast<char*>(placed.data_), placed.size_ + 1);
}

void StringTable::Reserve(std::size_t count) noexcept {
  std::size_t slots = mask_ + 1;
  while (slots < count * 2)
    slots *= 2;
  if (slots > mask_ + 1) Grow(slots);
}

bool StringTable::Grow(std::size_t count) noexcept {
  // Past the inline slots, the array lives on the module heap.
  const Slot* old = slots_;
  const std::size_t oldCount = old != nullptr ? mask_ + 1 : 0;
  auto* grown = static_cast<Slot*>(HeapAllocate(count * sizeof(Slot)));
  if (grown == nullptr) return false;
  ClearSlots(grown, count);
  mask_ = count - 1;
  shift_ = 32 - static_cast<unsigned>(std::countr_zero(count));
  slots_ = grown;
  for (std::size_t j = 0; j < oldCount; ++j) {
    if (old[j].record == nullptr) continue;
    std::size_t i = Home(old[j].hash);
    while (grown[i].record != nullptr)
      i = (i + 1) & mask_;
    grown[i] = old[j];
  }
  if (old != inlineSlots_) HeapFree(const_cast<Slot*>(old));
  return true;
}

void StringTable::Release(StringRecord* record) noexcept {
  if (record == nullptr || record == Empty()) return;
  if (--record->references != 0) return;
  if (slots_ == nullptr) return;  // not one of ours: left alone
  std::size_t i = Home(record->hash);
  for (; slots_[i].record != record; i = (i + 1) & mask_)
    if (slots_[i].record == nullptr) return;  // not one of ours either
  // Closes the gap: each record after it in the probe run that may live at the free slot moves there.
  for (std::size_t j = (i + 1) & mask_; slots_[j].record != nullptr; j = (j + 1) & mask_) {
    const std::size_t home = Home(slots_[j].hash);
    // The record stays when its home lies cyclically in (i, j].
    const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    slots_[i] = slots_[j];
    i = j;
  }
  slots_[i] = Slot{nullptr, 0, false};
  --size_;
  if (recentOn_) {
    StringRecord*& recent = recent_[RecentSlot(record->View())];
    if (recent == record) recent = nullptr;
  }
  if (record->text.OnHeap()) --heapTexts_;
  FreeText(record->text);
  slab_.Release(record, sizeof(StringRecord));
}

}  // namespace Quarn
