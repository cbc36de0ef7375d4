// PagePool: the process-wide source of the 4096-byte pages on which value trees keep their small
// records. Pages come from 64 KiB blocks mapped from the operating system; a block's memory goes back to
// the operating system as soon as all 16 of its pages are free again.
//
// The address range of one such released block is kept mapped, its memory given back, and serves the
// next block: a small tree that is built and dropped while no other tree is alive then costs no mapping
// and no unmapping, only one call that provides the block's memory again. New blocks and the kept
// range alike come with their pages provided, which costs the kernel less than a fault per page.

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
    std::size_t blocks = 0;     // blocks in use (the kept range of a released block not included)
    std::size_t freePages = 0;  // pages of those blocks that no one has taken
  };

  // The one pool of the process, created on first use and never destroyed.
  [[nodiscard]] static PagePool& Instance();

  // A free page, mapping a new block when none is left. Null when the operating system refuses the
  // block or its bookkeeping cannot be allocated.
  [[nodiscard]] void* TakePage() noexcept;

  // Gives back a page from TakePage. Releases its block's memory when all of the block's pages are free.
  void ReturnPage(void* page) noexcept { ReturnPages(&page, 1); }

  // Gives back many pages under one lock. The first block this frees is kept as the spare range when
  // there is none; the others are unmapped together, adjacent ones with one call, since each call costs
  // the operating system a flush of the address translations.
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
  // A new block's memory: the spare range when there is one, else a new mapping. Null when refused.
  void* NewBlockMemory() noexcept;
  // The memory of a block no longer used: kept as the spare range (its pages given back) when there is
  // none yet, in which case the answer is true; else left to the caller to unmap.
  bool KeepAsSpare(std::uintptr_t base) noexcept;
  void LinkWithFree(Block& block) noexcept;
  void UnlinkWithFree(Block& block) noexcept;

  mutable std::mutex mutex_;
  // Keyed by block address; a page's block is the last one that starts at or below it.
  std::map<std::uintptr_t, Block, std::less<>, HeapAllocator<std::pair<const std::uintptr_t, Block>>> blocks_;
  Block* withFree_ = nullptr;
  std::size_t freePages_ = 0;
  void* spare_ = nullptr;  // a released block's range: mapped, without memory
};

}  // namespace Quarn
