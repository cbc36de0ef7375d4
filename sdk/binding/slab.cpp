#include "sdk/binding/slab.h"

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
        if (IsInline(page)) continue;
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

Slab::PageHeader* Slab::CarveInlinePage(SizeClass& sizeClass, std::size_t slotSize) noexcept {
  const std::size_t headerSlots = (sizeof(PageHeader) + slotSize - 1) / slotSize;
  std::size_t size = (headerSlots + kInlineSlots) * slotSize;
  if (size > kInlineBytes - inlineUsed_) size = (kInlineBytes - inlineUsed_) / slotSize * slotSize;
  if (size < (headerSlots + 2) * slotSize) return nullptr;
  sizeClass.inlineOffset = static_cast<std::uint16_t>(inlineUsed_);
  sizeClass.inlineSize = static_cast<std::uint16_t>(size);
  // The next page starts aligned like a page header.
  inlineUsed_ += (size + alignof(PageHeader) - 1) / alignof(PageHeader) * alignof(PageHeader);
  PageHeader* page = LayOutPage(inline_ + sizeClass.inlineOffset, size, slotSize);
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
  if (page == nullptr && sizeClass.inlineSize == 0) page = CarveInlinePage(sizeClass, slotSize);
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
    // The inline page is found by address; only pool pages need to be remembered while full.
    if (!IsInline(page)) Link(sizeClass.full, page);
  }
  return slot;
}

void Slab::Release(void* slot, std::size_t size) noexcept {
  if (slot == nullptr) return;
  const std::size_t index = (size + 3) / 4 - 1;
  const std::size_t slotSize = 4 * (index + 1);
  SizeClass& sizeClass = classes_[index];
  const auto address = reinterpret_cast<std::uintptr_t>(slot);
  const auto inlineStart = reinterpret_cast<std::uintptr_t>(inline_ + sizeClass.inlineOffset);
  const bool isInline = address - inlineStart < sizeClass.inlineSize;
  auto* page = reinterpret_cast<PageHeader*>(isInline ? inlineStart
                                                      : address & ~std::uintptr_t{PagePool::kPageSize - 1});
  if (IsFull(page, slotSize)) {
    if (!isInline) Unlink(sizeClass.full, page);
    Link(sizeClass.withFree, page);
  }
  SetNextFree(static_cast<unsigned char*>(slot), page->firstFree);
  page->firstFree = static_cast<std::uint16_t>((address - reinterpret_cast<std::uintptr_t>(page)) / slotSize);
  if (--page->inUse == 0 && !isInline) {
    Unlink(sizeClass.withFree, page);
    --pagesHeld_;
    PagePool::Instance().ReturnPage(page);
  }
}

}  // namespace Quarn
