#include "sdk/binding/string_table.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace Quarn {
namespace {

StringRecord gEmptyRecord{HeapString(), 2166136261u, 0, nullptr};

// Whether the record's text needs its destructor to free a buffer.
bool OnHeap(const StringRecord& record) noexcept {
  return record.text.capacity() > HeapString().capacity();
}

}  // namespace

StringTable::~StringTable() {
  for (std::size_t i = 0; heapTexts_ != 0 && i <= mask_; ++i) {
    for (StringRecord* r = buckets_[i]; r != nullptr;) {
      StringRecord* next = r->next;
      if (OnHeap(*r)) --heapTexts_;
      r->~StringRecord();
      r = next;
    }
  }
  if (buckets_ != inlineBuckets_) HeapFree(buckets_);
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
    if (size_ < kRecentFrom) return Intern(text, Hash(text));
    std::fill(std::begin(recent_), std::end(recent_), nullptr);
    recentOn_ = true;
  }
  StringRecord*& recent = recent_[RecentSlot(text)];
  if (recent != nullptr && recent->View() == text) {
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
  StringRecord*& bucket = buckets_[hash & mask_];
  for (StringRecord* r = bucket; r != nullptr; r = r->next) {
    if (r->hash == hash && (r->View().data() == text.data() || r->View() == text)) {
      if (seen != nullptr) *seen = true;
      ++r->references;
      return r;
    }
  }
  void* slot = slab_.Allocate(sizeof(StringRecord));
  if (slot == nullptr) return nullptr;
  StringRecord* record;
  try {
    record = ::new (slot) StringRecord{HeapString(text.data(), text.size()), hash, 1, bucket};
  } catch (const std::bad_alloc&) {
    slab_.Release(slot, sizeof(StringRecord));
    return nullptr;
  }
  bucket = record;
  if (OnHeap(*record)) ++heapTexts_;
  if (++size_ > mask_ + 1) Grow((mask_ + 1) * (mask_ + 1 < kQuickGrowthBuckets ? 4 : 2));
  return record;
}

void StringTable::Reserve(std::size_t count) noexcept {
  std::size_t buckets = mask_ + 1;
  while (buckets < count)
    buckets *= 2;
  if (buckets > mask_ + 1) Grow(buckets);
}

// Rehashes into count buckets, a power of two.
void StringTable::Grow(std::size_t count) noexcept {
  auto** grown = static_cast<StringRecord**>(HeapAllocate(count * sizeof(StringRecord*)));
  if (grown == nullptr) return;  // longer chains until the next try; lookups stay correct
  for (std::size_t i = 0; i < count; ++i)
    grown[i] = nullptr;
  for (std::size_t i = 0; i <= mask_; ++i) {
    for (StringRecord* r = buckets_[i]; r != nullptr;) {
      StringRecord* next = r->next;
      StringRecord*& bucket = grown[r->hash & (count - 1)];
      r->next = bucket;
      bucket = r;
      r = next;
    }
  }
  if (buckets_ != inlineBuckets_) HeapFree(buckets_);
  buckets_ = grown;
  mask_ = count - 1;
}

void StringTable::Release(StringRecord* record) noexcept {
  if (record == nullptr || record == Empty()) return;
  if (--record->references != 0) return;
  for (StringRecord** link = &buckets_[record->hash & mask_]; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      break;
    }
  }
  --size_;
  if (recentOn_) {
    StringRecord*& recent = recent_[RecentSlot(record->View())];
    if (recent == record) recent = nullptr;
  }
  if (OnHeap(*record)) --heapTexts_;
  record->~StringRecord();
  slab_.Release(record, sizeof(StringRecord));
}

}  // namespace Quarn
