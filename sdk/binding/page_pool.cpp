#include "sdk/binding/page_pool.h"

#include <new>

namespace Quarn {

PagePool& PagePool::Instance() {
  // Never destroyed: trees in static storage may return pages during exit.
  static PagePool* const pool = new PagePool();
  return *pool;
}

void PagePool::LinkWithFree(Block& block) noexcept {
  block.prevWithFree = nullptr;
  block.nextWithFree = withFree_;
  if (withFree_ != nullptr) withFree_->prevWithFree = &block;
  withFree_ = &block;
}

void PagePool::UnlinkWithFree(Block& block) noexcept {
  if (block.prevWithFree != nullptr)
    block.prevWithFree->nextWithFree = block.nextWithFree;
  else
    withFree_ = block.nextWithFree;
  if (block.nextWithFree != nullptr) block.nextWithFree->prevWithFree = block.prevWithFree;
  block.nextWithFree = block.prevWithFree = nullptr;
}

void* PagePool::TakePage() noexcept {
  std::lock_guard lock(mutex_);
  if (withFree_ == nullptr) {
    void* memory = HeapMapPages(kBlockSize);
    if (memory == nullptr) return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(memory);
    Block* block = nullptr;
    try {
      block = &blocks_.try_emplace(base).first->second;
    } catch (const std::bad_alloc&) {
      HeapUnmapPages(memory, kBlockSize);
      return nullptr;
    }
    block->base = base;
    // Highest page number at the bottom, so that pages go out lowest address first.
    for (std::size_t i = 0; i < kPagesPerBlock; ++i)
      block->freePages[i] = static_cast<std::uint8_t>(kPagesPerBlock - 1 - i);
    block->freeCount = kPagesPerBlock;
    freePages_ += kPagesPerBlock;
    LinkWithFree(*block);
  }
  Block& block = *withFree_;
  const std::uint8_t page = block.freePages[--block.freeCount];
  --freePages_;
  if (block.freeCount == 0) UnlinkWithFree(block);
  return reinterpret_cast<void*>(block.base + page * kPageSize);
}

void PagePool::ReturnPage(void* page) noexcept {
  if (page == nullptr) return;
  const auto address = reinterpret_cast<std::uintptr_t>(page);
  std::lock_guard lock(mutex_);
  auto found = blocks_.upper_bound(address);
  if (found == blocks_.begin()) return;  // not one of ours
  --found;
  Block& block = found->second;
  if (address - block.base >= kBlockSize) return;
  if (block.freeCount == 0) LinkWithFree(block);
  block.freePages[block.freeCount++] = static_cast<std::uint8_t>((address - block.base) / kPageSize);
  ++freePages_;
  if (block.freeCount == kPagesPerBlock) {
    UnlinkWithFree(block);
    freePages_ -= kPagesPerBlock;
    HeapUnmapPages(reinterpret_cast<void*>(block.base), kBlockSize);
    blocks_.erase(found);
  }
}

PagePool::Usage PagePool::ReadUsage() const {
  std::lock_guard lock(mutex_);
  return Usage{blocks_.size(), freePages_};
}

}  // namespace Quarn
