// PropertyContext: the storage of one value tree, owned by the tree's root. It holds the tree's slab and
// its interned strings, and remembers whether the tree ever lacked memory. The slab's area follows the
// context in the same block, sized when the context is made.

#pragma once

#include <cstddef>

#include "sdk/binding/slab.h"
#include "sdk/binding/string_table.h"

namespace Quarn {

// Not synchronised: one thread uses a tree at a time.
class PropertyContext {
 public:
  // A new context on the module heap whose slab area holds about expectedBytes of records (at most
  // Slab::kMaxAreaBytes; beyond it the slab draws pool pages). A decoder that knows its input's size
  // asks for what such a document needs; others take the largest area. When the allocation fails, the
  // answer is Refusing(), never null.
  [[nodiscard]] static PropertyContext* Create(std::size_t expectedBytes = Slab::kMaxAreaBytes) noexcept;

  // A context that lives wherever its holder puts it (a call's frame, for one), for values that share
  // it (BindingProperty::ShareStorage) and are gone before it. Never passed to Destroy. The holder gives
  // its slab's area, which outlives it (FramePropertyContext holds one).
  PropertyContext(void* area, std::size_t areaSize) noexcept : PropertyContext(area, areaSize, false) {}

  // Frees a context from Create. Nothing for Refusing().
  static void Destroy(PropertyContext* context) noexcept;

  // The process-wide context of trees that could not get one of their own: it allocates nothing and
  // reports failure. Shared read-only between threads.
  [[nodiscard]] static PropertyContext* Refusing() noexcept;

  // A slab slot of size bytes; null (and the tree marked failed) when none can be had.
  [[nodiscard]] void* Allocate(std::size_t size) noexcept;
  void Release(void* slot, std::size_t size) noexcept { slab_.Release(slot, size); }

  // Interns a text; null (and the tree marked failed) when it cannot be stored.
  [[nodiscard]] StringRecord* Intern(std::string_view text) noexcept;
  [[nodiscard]] StringRecord* Intern(const StringRecord& record) noexcept;
  void ReleaseString(StringRecord* record) noexcept { strings_.Release(record); }
  // One more reference to a record of this tree.
  void RetainString(StringRecord* record) noexcept {
    if (record != StringTable::Empty()) ++record->references;
  }
  // Room for count strings before the table grows.
  void ReserveStrings(std::size_t count) noexcept {
    if (!refusing_) strings_.Reserve(count);
  }

  // True once any allocation for this tree failed. It stays true: the tree is missing content.
  [[nodiscard]] bool Failed() const noexcept { return failed_; }
  void MarkFailed() noexcept {
    if (!failed_) failed_ = true;
  }

  [[nodiscard]] const Slab& SlabInUse() const noexcept { return slab_; }
  [[nodiscard]] const StringTable& Strings() const noexcept { return strings_; }

 private:
  PropertyContext(void* area, std::size_t areaSize, bool refusing) noexcept
      : slab_(area, areaSize), failed_(refusing), refusing_(refusing) {}

  Slab slab_;
  StringTable strings_{slab_};
  bool failed_;
  const bool refusing_;
};

// The slab bytes a decoded document of inputBytes is expected to take when each of its bytes makes some
// recordBytesPerByte bytes of records (a short name or text of a few bytes becomes a 40-byte record).
// Past the largest area it makes no difference.
constexpr std::size_t ExpectedRecordBytes(std::size_t inputBytes, std::size_t recordBytesPerByte) noexcept {
  constexpr std::size_t kAtLeast = 512;
  const std::size_t counted = Slab::kMaxAreaBytes / recordBytesPerByte;
  return kAtLeast + recordBytesPerByte * (inputBytes < counted ? inputBytes : counted);
}

// A context with the largest slab area inside it, for a holder that keeps it in place.
class FramePropertyContext : public PropertyContext {
 public:
  FramePropertyContext() noexcept : PropertyContext(area_, sizeof area_) {}

 private:
  alignas(8) unsigned char area_[Slab::kMaxAreaBytes];
};

}  // namespace Quarn
