#include "sdk/binding/page_pool.h"

#include <algorithm>
#include <new>
#include <utility>

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

void* PagePool::NewBlockMemory() noexcept {
  if (spare_ == nullptr) return HeapMapPages(kBlockSize);
  if (!HeapRecommitPages(spare_, kBlockSize)) return nullptr;
  return std::exchange(spare_, nullptr);
}

bool PagePool::KeepAsSpare(std::uintptr_t base) noexcept {
  if (spare_ != nullptr || !HeapDecommitPages(reinterpret_cast<void*>(base), kBlockSize)) return false;
  spare_ = reinterpret_cast<void*>(base);
  return true;
}

void* PagePool::TakePage() noexcept {
  std::lock_guard lock(mutex_);
  if (withFree_ == nullptr) {
    void* memory = NewBlockMemory();
    if (memory == nullptr) return nullptr;
    const auto base = reinterpret_cast<std::uintptr_t>(memory);
    Block* block = nullptr;
    try {
      block = &blocks_.try_emplace(base).first->second;
    } catch (const std::bad_alloc&) {
      if (!KeepAsSpare(base)) HeapUnmapPages(memory, kBlockSize);
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

void PagePool::ReturnPages(void* const* pages, std::size_t count) noexcept {
  constexpr std::size_t kBatch = 128;
  while (count > 0) {
    const std::size_t batch = std::min(count, kBatch);
    std::uintptr_t freed[kBatch];
    std::size_t freedCount = 0;
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < batch; ++i) {
        const std::uintptr_t base = Release(pages[i]);
        if (base != 0 && !KeepAsSpare(base)) freed[freedCount++] = base;
      }
    }
    std::sort(freed, freed + freedCount);
    for (std::size_t i = 0; i < freedCount;) {
      std::size_t run = 1;
      while (i + run < freedCount && freed[i + run] == freed[i] + run * kBlockSize)
        ++run;
      HeapUnmapAdjacentPages(reinterpret_cast<void*>(freed[i]), kBlockSize, run);
      i += run;
    }
    pages += batch;
    count -= batch;
  }
}

std::uintptr_t PagePool::Release(void* page) noexcept {
  if (page == nullptr) return 0;
  const auto address = reinterpret_cast<std::uintptr_t>(page);
  auto found = blocks_.upper_bound(address);
  if (found == blocks_.begin()) return 0;  // not one of ours
  --found;
  Block& block = found->second;
  if (address - block.base >= kBlockSize) return 0;
  if (block.freeCount == 0) LinkWithFree(block);
  block.freePages[block.freeCount++] = static_cast<std::uint8_t>((address - block.base) / kPageSize);
  ++freePages_;
  if (block.freeCount != kPagesPerBlock) return 0;
  UnlinkWithFree(block);
  freePages_ -= kPagesPerBlock;
  const std::uintptr_t base = block.base;
  blocks_.erase(found);
  return base;
}

PagePool::Usage PagePool::ReadUsage() const {
  std::lock_guard lock(mutex_);
  return Usage{blocks_.size(), freePages_};
}

}  // namespace Quarn
