// StringTable: the interned, reference-counted texts of one value tree. String values and field names
// of equal text share one record, so a name repeated in every object of a document is stored once.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/slab.h"

namespace Quarn {

// The bytes of an interned text, always followed by a NUL. Up to 15 of them live inside the record. A
// longer one lives on the module heap, or, once its table is large, in a slot of the table's slab
// while it fits one with its NUL: a tree that dies whole then drops it with the slab instead of freeing
// it. A small tree keeps its longer texts on the heap, where a few of them cost their bytes and not a
// slab page for each size. The table places and frees the bytes; the record does not own them.
// Whatever its length, a text can be read 16 bytes at a time from its start.
class RecordText {
 public:
  static constexpr std::size_t kInlineCapacity = 15;
  // The longest text a slab slot holds with its NUL.
  static constexpr std::size_t kLongestInSlab = Slab::kMaxSlotSize - 1;
  // The longest text a record can hold at all.
  static constexpr std::size_t kLongest = static_cast<std::size_t>(-1) >> 2;

  // The empty text.
  RecordText() noexcept : size_(0), place_(kInline) { inline_[0] = '\0'; }
  RecordText(const RecordText&) = delete;
  RecordText& operator=(const RecordText&) = delete;

  [[nodiscard]] const char* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] bool InSlab() const noexcept { return place_ == kInSlab; }
  [[nodiscard]] bool OnHeap() const noexcept { return place_ == kOnHeap; }

 private:
  friend class StringTable;
  enum Place : std::uint8_t { kInline, kInSlab, kOnHeap };

  const char* data_ = inline_;
  std::size_t size_ : sizeof(std::size_t) * 8 - 2;
  std::size_t place_ : 2;
  char inline_[kInlineCapacity + 1];
};

// One interned text. The record lives in a slab slot of its table.
struct StringRecord {
  RecordText text;
  std::uint32_t hash = 0;        // FNV-1a of the text up to its first NUL
  std::uint32_t references = 0;  // values and names referring to this record

  [[nodiscard]] std::string_view View() const noexcept { return {text.data(), text.size()}; }
};

// A hash set of records keyed by text, open-addressed: a power-of-two array of slots, each holding a
// record and its hash, probed linearly from the slot the hash chooses, and kept at most half full. The
// hashes beside the records let a lookup and a rehash pass over records without reading them, which in
// a large table would be a cache miss each; so does a mark of the records whose text is on the heap for
// a dying table, which has those texts to free. The 64 slots inside the table serve a small tree; past
// them the array grows fourfold while the table is small, so that a document's texts are rehashed
// once or twice.
//
// In front of it, a small cache keyed by a few bytes and the length answers the texts a document
// repeats (field names above all) without hashing them; a text enters it when it is interned a second
// time, so texts that occur once do not push the repeated ones out.
//
// A table that never interned anything has touched none of its slots. Not synchronised.
class StringTable {
 public:
  explicit StringTable(Slab& slab) noexcept : slab_(slab) {}
  StringTable(const StringTable&) = delete;
  StringTable& operator=(const StringTable&) = delete;
  // Frees the heap-held texts of the records still held, but neither the records nor the other texts:
  // the slab they live in goes with the table, so a tree that dies whole drops its strings without
  // releasing them one by one. When no text is held on the heap, no record is visited.
  ~StringTable();

  // The record every empty text refers to. Shared by all tables of the process; never counted, never
  // freed.
  [[nodiscard]] static StringRecord* Empty() noexcept;

  // FNV-1a (basis 2166136261, prime 16777619) over the bytes before the first NUL.
  [[nodiscard]] static std::uint32_t Hash(std::string_view text) noexcept;

  // One more reference to the record of this text, creating it when absent. Null when the record or its
  // text cannot be allocated.
  [[nodiscard]] StringRecord* Intern(std::string_view text) noexcept;

  // Intern for a record of any table: reuses its hash, and only counts when it is one of ours.
  [[nodiscard]] StringRecord* Intern(const StringRecord& record) noexcept;

  // Drops one reference; the record is erased and freed when none is left. Nothing for Empty().
  void Release(StringRecord* record) noexcept;

  // Room for count records without growing.
  void Reserve(std::size_t count) noexcept;

  // Records held, the empty one not included.
  [[nodiscard]] std::size_t Size() const noexcept { return size_; }
  [[nodiscard]] std::size_t SlotCount() const noexcept { return mask_ + 1; }

 private:
  struct Slot {
    StringRecord* record;  // null: free
    std::uint32_t hash;
    // The record's text lives on the heap: a dying table finds those texts without reading records.
    bool heapText;
  };

  // The record of the text, created when absent; seen tells whether it existed before.
  StringRecord* Intern(std::string_view text, std::uint32_t hash, bool* seen = nullptr) noexcept;
  // The slot a hash starts probing from.
  [[nodiscard]] std::size_t Home(std::uint32_t hash) const noexcept {
    return static_cast<std::uint32_t>(hash * 2654435769u) >> shift_;
  }
  static void ClearSlots(Slot* slots, std::size_t count) noexcept;
  // Copies text into the record's bytes, placed by its length and the table's size. False when the
  // bytes cannot be had.
  bool PlaceText(RecordText& placed, std::string_view text) noexcept;
  // Frees what PlaceText took for the record's bytes.
  void FreeText(const RecordText& placed) noexcept;
  // Moves every record into a new array of count slots, a power of two. False when it cannot be had.
  bool Grow(std::size_t count) noexcept;

  static constexpr std::size_t kInlineSlots = 64;
  // Below this many slots the array grows fourfold, above it twofold. Out of the inline slots it
  // doubles twice, a step at a time: a table that just outgrew them is likely a small tree's.
  static constexpr std::size_t kQuickGrowthSlots = 8192;
  // The cache of repeated texts is cleared and used once the slots have moved out of the inline
  // ones, in whose bytes it lives: a table of a few texts finds them as fast in its slots, and a tree
  // that never gets there never clears it.
  static constexpr std::size_t kRecentBits = 6;
  // Texts too long for a record go into the slab once the table holds this many records: then its
  // records alone fill some ten slab pages, and a page for each size of text adds little to the tree.
  static constexpr std::size_t kSlabTextsFrom = 1024;

  // REQUIRES: text is not empty.
  [[nodiscard]] static std::size_t RecentSlot(std::string_view text) noexcept {
    const auto byte = [text](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(text[i])}; };
    const std::uint32_t key = (byte(0) << 16 | byte(text.size() / 2) << 8 | byte(text.size() - 1)) ^
                              static_cast<std::uint32_t>(text.size() << 24);
    return (key * 2654435769u) >> (32 - kRecentBits);
  }

  Slab& slab_;
  Slot* slots_ = nullptr;  // null until the first text: then the inline slots, cleared
  std::size_t mask_ = kInlineSlots - 1;
  unsigned shift_ = 32 - 6;  // 32 minus log2 of the slot count
  std::size_t size_ = 0;
  std::size_t heapTexts_ = 0;  // records whose text lives on the module heap
  bool recentOn_ = false;
  union {
    Slot inlineSlots_[kInlineSlots];                       // cleared when first used
    StringRecord* recent_[std::size_t{1} << kRecentBits];  // cleared when turned on
  };
  static_assert(sizeof recent_ <= sizeof inlineSlots_);
};

}  // namespace Quarn
