// Slab: the small-object allocator of one value tree. It serves records of up to 72 bytes from 18 size
// classes (4, 8, ..., 72 bytes). On its first use a class carves a first page of its own out of a few
// kilobytes inside the slab, so that a small tree takes nothing from the PagePool; then it draws
// 4096-byte pages from the PagePool, returning each page as soon as none of its slots is used. Nothing
// is laid out before it is needed: a slab that serves nothing costs nothing.

#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarn {

// Not synchronised: one thread uses a tree, and so its slab, at a time.
class Slab {
 public:
  static constexpr std::size_t kClassCount = 18;
  static constexpr std::size_t kMaxSlotSize = 4 * kClassCount;
  // Bytes inside the slab for the classes' first pages, and the slots one such page holds at most:
  // enough for the three classes a tree uses (its string records, container headers and enum records)
  // to hold a document of a kilobyte or so between them.
  static constexpr std::size_t kInlineBytes = 4608;
  static constexpr std::size_t kInlineSlots = 64;

  Slab() noexcept = default;
  Slab(const Slab&) = delete;
  Slab& operator=(const Slab&) = delete;
  // Returns every pool page to the pool, whether or not its slots were released: a tree that dies
  // whole drops its slab without releasing record by record.
  ~Slab();

  // A slot of at least size bytes (1 to 72), aligned to 8 when size is a multiple of 8. Null when size
  // is out of range or the pool has no page to give.
  [[nodiscard]] void* Allocate(std::size_t size) noexcept;

  // Returns a slot from Allocate; size is the size it was allocated with.
  void Release(void* slot, std::size_t size) noexcept;

  // Pool pages this slab holds right now.
  [[nodiscard]] std::size_t PagesHeld() const noexcept { return pagesHeld_; }

 private:
  // Starts every page. Slot 0 lies under it, so index 0 ends a free list. Slots from `fresh` on have
  // never been handed out and are not chained: a page is laid out in constant time.
  struct PageHeader {
    PageHeader* next;
    PageHeader* prev;
    std::uint16_t pageSize;
    std::uint16_t inUse;
    std::uint16_t firstFree;
    std::uint16_t fresh;
  };

  struct SizeClass {
    PageHeader* withFree = nullptr;  // pages that have a free slot, most recently freed into first
    PageHeader* full = nullptr;      // pool pages without a free slot
    std::uint16_t inlineOffset = 0;  // the class's page inside the slab, once carved
    std::uint16_t inlineSize = 0;    // 0 until carved
  };

  static PageHeader* LayOutPage(void* memory, std::size_t pageSize, std::size_t slotSize) noexcept;
  [[nodiscard]] bool IsInline(const PageHeader* page) const noexcept {
    return reinterpret_cast<std::uintptr_t>(page) - reinterpret_cast<std::uintptr_t>(inline_) < kInlineBytes;
  }
  [[nodiscard]] static bool IsFull(const PageHeader* page, std::size_t slotSize) noexcept {
    return page->firstFree == 0 && (std::size_t{page->fresh} + 1) * slotSize > page->pageSize;
  }
  // The class's first page, carved from the slab's own bytes; null when too few are left.
  PageHeader* CarveInlinePage(SizeClass& sizeClass, std::size_t slotSize) noexcept;
  static void Link(PageHeader*& list, PageHeader* page) noexcept;
  static void Unlink(PageHeader*& list, PageHeader* page) noexcept;

  SizeClass classes_[kClassCount];
  std::size_t inlineUsed_ = 0;
  std::size_t pagesHeld_ = 0;
  // Left uninitialised: a page is laid out when carved.
  alignas(PageHeader) unsigned char inline_[kInlineBytes];
};

}  // namespace Quarn
