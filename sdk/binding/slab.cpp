#include "sdk/binding/slab.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "sdk/binding/page_pool.h"

namespace Quarn {
namespace {

std::uint16_t NextFree(const unsigned char* slot) noexcept {
  std::uint16_t next;
  std::memcpy(&next, slot, sizeof next);
  return next;
}

void SetNextFree(unsigned char* slot, std::uint16_t next) noexcept {
  std::memcpy(slot, &next, sizeof next);
}

}  // namespace

Slab::~Slab() {
  if (pagesHeld_ == 0) return;
  void* batch[128];
  std::size_t batched = 0;
  for (SizeClass& sizeClass : classes_) {
    for (PageHeader* list : {sizeClass.withFree, sizeClass.full}) {
      for (PageHeader *page = list, *next; page != nullptr; page = next) {
        next = page->next;  // read first: a full batch goes back, and may be unmapped, at once
        if (InArea(page)) continue;
        batch[batched++] = page;
        if (batched == std::size(batch)) {
          PagePool::Instance().ReturnPages(batch, batched);
          batched = 0;
        }
      }
    }
  }
  PagePool::Instance().ReturnPages(batch, batched);
}

Slab::PageHeader* Slab::LayOutPage(void* memory, std::size_t pageSize, std::size_t slotSize) noexcept {
  const std::size_t first = (sizeof(PageHeader) + slotSize - 1) / slotSize;
  return ::new (memory) PageHeader{nullptr, nullptr, static_cast<std::uint16_t>(pageSize),
                                   0,       0,       static_cast<std::uint16_t>(first)};
}

Slab::PageHeader* Slab::CarveAreaPage(SizeClass& sizeClass, std::size_t slotSize) noexcept {
  const std::size_t headerSlots = (sizeof(PageHeader) + slotSize - 1) / slotSize;
  const std::size_t left = areaSize_ - areaUsed_;
  const std::size_t slots = kFirstAreaSlots << std::min<std::size_t>(sizeClass.areaPages, 4);
  std::size_t size = std::min((headerSlots + slots) * slotSize, left) / slotSize * slotSize;
  if (size < (headerSlots + 2) * slotSize) return nullptr;
  // Each page starts on a unit, so that a slot's unit tells its page.
  const std::size_t units = (size + kAreaUnit - 1) / kAreaUnit;
  const std::size_t first = areaUsed_ / kAreaUnit;
  std::memset(pageUnits_ + first, static_cast<int>(first), units);
  areaUsed_ = static_cast<std::uint16_t>(std::min(areaUsed_ + units * kAreaUnit, std::size_t{areaSize_}));
  ++sizeClass.areaPages;
  PageHeader* page = LayOutPage(area_ + first * kAreaUnit, size, slotSize);
  Link(sizeClass.withFree, page);
  return page;
}

void Slab::Link(PageHeader*& list, PageHeader* page) noexcept {
  page->prev = nullptr;
  page->next = list;
  if (list != nullptr) list->prev = page;
  list = page;
}

void Slab::Unlink(PageHeader*& list, PageHeader* page) noexcept {
  if (page->prev != nullptr)
    page->prev->next = page->next;
  else
    list = page->next;
  if (page->next != nullptr) page->next->prev = page->prev;
  page->next = page->prev = nullptr;
}

void* Slab::Allocate(std::size_t size) noexcept {
  if (size == 0 || size > kMaxSlotSize) return nullptr;
  const std::size_t index = (size + 3) / 4 - 1;
  const std::size_t slotSize = 4 * (index + 1);
  SizeClass& sizeClass = classes_[index];
  PageHeader* page = sizeClass.withFree;
  if (page == nullptr) page = CarveAreaPage(sizeClass, slotSize);
  if (page == nullptr) {
    void* memory = PagePool::Instance().TakePage();
    if (memory == nullptr) return nullptr;
    ++pagesHeld_;
    page = LayOutPage(memory, PagePool::kPageSize, slotSize);
    Link(sizeClass.withFree, page);
  }
  unsigned char* slot = reinterpret_cast<unsigned char*>(page);
  if (page->firstFree != 0) {
    slot += std::size_t{page->firstFree} * slotSize;
    page->firstFree = NextFree(slot);
  } else {
    slot += std::size_t{page->fresh++} * slotSize;
  }
  ++page->inUse;
  if (IsFull(page, slotSize)) {
    Unlink(sizeClass.withFree, page);
    // Area pages are found by address; only pool pages need to be remembered while full.
    if (!InArea(page)) Link(sizeClass.full, page);
  }
  return slot;
}

void Slab::Release(void* slot, std::size_t size) noexcept {
  if (slot == nullptr) return;
  const std::size_t index = (size + 3) / 4 - 1;
  const std::size_t slotSize = 4 * (index + 1);
  SizeClass& sizeClass = classes_[index];
  // In the area, the page that covers the slot's unit; else the pool page it lies in.
  const auto address = reinterpret_cast<std::uintptr_t>(slot);
  const std::uintptr_t offset = address - reinterpret_cast<std::uintptr_t>(area_);
  const bool inArea = offset < areaSize_;
  auto* page =
      reinterpret_cast<PageHeader*>(inArea ? reinterpret_cast<std::uintptr_t>(area_) +
                                                 std::size_t{pageUnits_[offset / kAreaUnit]} * kAreaUnit
                                           : address & ~std::uintptr_t{PagePool::kPageSize - 1});
  if (IsFull(page, slotSize)) {
    if (!inArea) Unlink(sizeClass.full, page);
    Link(sizeClass.withFree, page);
  }
  SetNextFree(static_cast<unsigned char*>(slot), page->firstFree);
  page->firstFree = static_cast<std::uint16_t>((address - reinterpret_cast<std::uintptr_t>(page)) / slotSize);
  if (--page->inUse == 0 && !inArea) {
    Unlink(sizeClass.withFree, page);
    --pagesHeld_;
    PagePool::Instance().ReturnPage(page);
  }
}

}  // namespace Quarn
