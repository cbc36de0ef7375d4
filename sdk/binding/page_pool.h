// PagePool: the process-wide source of the 4096-byte pages on which value trees keep their small
// records. Pages come from 64 KiB blocks mapped from the operating system; a block goes back to the
// operating system as soon as all 16 of its pages are free again.

#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include "sdk/binding/module_heap.h"

namespace Quarn {

// Hands out 4096-aligned pages of 4096 bytes. One mutex guards every page taken or returned, so any
// thread may use the pool; it is the only state that value trees share.
class PagePool {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPagesPerBlock = 16;
  static constexpr std::size_t kBlockSize = kPageSize * kPagesPerBlock;

  // What the pool holds right now.
  struct Usage {
    std::size_t blocks = 0;     // blocks mapped
    std::size_t freePages = 0;  // pages of those blocks that no one has taken
  };

  // The one pool of the process, created on first use and never destroyed.
  [[nodiscard]] static PagePool& Instance();

  // A free page, mapping a new block when none is left. Null when the operating system refuses the
  // block or its bookkeeping cannot be allocated.
  [[nodiscard]] void* TakePage() noexcept;

  // Gives back a page from TakePage. Unmaps its block when all of the block's pages are free.
  void ReturnPage(void* page) noexcept { ReturnPages(&page, 1); }

  // Gives back many pages under one lock. The blocks this frees are unmapped together, adjacent ones
  // with one call, since each call costs the operating system a flush of the address translations.
  void ReturnPages(void* const* pages, std::size_t count) noexcept;

  [[nodiscard]] Usage ReadUsage() const;

 private:
  struct Block {
    std::uintptr_t base = 0;
    std::uint8_t freeCount = 0;
    std::uint8_t freePages[kPagesPerBlock] = {};  // stack of page numbers within the block
    Block* nextWithFree = nullptr;                // links of the list of blocks that have free pages
    Block* prevWithFree = nullptr;
  };

  PagePool() = default;
  // Takes the page back; answers the base of its block when that is now free and forgotten, else 0.
  std::uintptr_t Release(void* page) noexcept;
  void LinkWithFree(Block& block) noexcept;
  void UnlinkWithFree(Block& block) noexcept;

  mutable std::mutex mutex_;
  // Keyed by block address; a page's block is the last one that starts at or below it.
  std::map<std::uintptr_t, Block, std::less<>, HeapAllocator<std::pair<const std::uintptr_t, Block>>> blocks_;
  Block* withFree_ = nullptr;
  std::size_t freePages_ = 0;
};

}  // namespace Quarn
