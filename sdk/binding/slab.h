// Slab: the small-object allocator of one value tree. It serves records of up to 72 bytes from 18 size
// classes (4, 8, ..., 72 bytes). Its first pages come from an area its owner gives it (a tree's context
// sizes the area to the tree it expects): each class carves small pages out of the area as it needs
// them, eight slots first and twice as many each time after, so that a small tree takes nothing from
// the PagePool and leaves little of the area unused. Once the area is spent it draws 4096-byte pages
// from the PagePool, returning each page as soon as none of its slots is used. Nothing is laid out
// before it is needed: a slab that serves nothing costs nothing.

#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarn {

// Not synchronised: one thread uses a tree, and so its slab, at a time.
class Slab {
 public:
  static constexpr std::size_t kClassCount = 18;
  static constexpr std::size_t kMaxSlotSize = 4 * kClassCount;
  // The largest area: enough for the classes a tree uses most (its string records, container headers
  // and enum records) to hold a document of a kilobyte or so between them.
  static constexpr std::size_t kMaxAreaBytes = 4608;
  // Pages carved from the area start at multiples of this many bytes from its start.
  static constexpr std::size_t kAreaUnit = 64;
  // The slots of a class's first page in the area.
  static constexpr std::size_t kFirstAreaSlots = 8;

  // REQUIRES: area is aligned to 8 and outlives the slab; areaSize is at most kMaxAreaBytes. The area's
  // bytes need not be initialised: a page is laid out when carved.
  Slab(void* area, std::size_t areaSize) noexcept
      : area_(static_cast<unsigned char*>(area)), areaSize_(static_cast<std::uint16_t>(areaSize)) {}
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

  // Asks for the carved part of the area ahead of reading it: a walk of a small tree then waits for its
  // records together instead of one after the other.
  void PrefetchArea() const noexcept {
    for (std::size_t offset = 0; offset < areaUsed_; offset += kAreaUnit)
      __builtin_prefetch(area_ + offset);
  }

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
    std::uint8_t areaPages = 0;      // pages carved from the area so far
  };

  static PageHeader* LayOutPage(void* memory, std::size_t pageSize, std::size_t slotSize) noexcept;
  [[nodiscard]] bool InArea(const void* address) const noexcept {
    return reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(area_) < areaSize_;
  }
  [[nodiscard]] static bool IsFull(const PageHeader* page, std::size_t slotSize) noexcept {
    return page->firstFree == 0 && (std::size_t{page->fresh} + 1) * slotSize > page->pageSize;
  }
  // A new page of the class carved from the area; null when too little of it is left.
  PageHeader* CarveAreaPage(SizeClass& sizeClass, std::size_t slotSize) noexcept;
  static void Link(PageHeader*& list, PageHeader* page) noexcept;
  static void Unlink(PageHeader*& list, PageHeader* page) noexcept;

  SizeClass classes_[kClassCount];
  std::size_t pagesHeld_ = 0;
  unsigned char* const area_;
  const std::uint16_t areaSize_;
  std::uint16_t areaUsed_ = 0;
  // For each unit of the area carved so far, the unit its page starts at.
  std::uint8_t pageUnits_[kMaxAreaBytes / kAreaUnit];
};

}  // namespace Quarn
