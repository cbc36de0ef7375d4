#include "sdk/binding/page_pool.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace Quarn {
namespace {

TEST(PagePoolTest, PagesAreDistinctAlignedAndWritable) {
  PagePool& pool = PagePool::Instance();
  std::set<std::uintptr_t> seen;
  std::vector<void*> pages;
  for (int i = 0; i < 40; ++i) {
    void* page = pool.TakePage();
    ASSERT_NE(page, nullptr);
    const auto address = reinterpret_cast<std::uintptr_t>(page);
    EXPECT_EQ(address % PagePool::kPageSize, 0u);
    EXPECT_TRUE(seen.insert(address).second) << "page handed out twice";
    static_cast<char*>(page)[0] = 1;
    static_cast<char*>(page)[PagePool::kPageSize - 1] = 1;
    pages.push_back(page);
  }
  for (void* page : pages)
    pool.ReturnPage(page);
}

TEST(PagePoolTest, BlockIsUnmappedOnceAllItsPagesAreBack) {
  PagePool& pool = PagePool::Instance();
  const PagePool::Usage before = pool.ReadUsage();
  const std::uint64_t bytesBefore = HeapBytesInUse();
  // More pages than any partly used block can hold: at least one new block is mapped.
  std::vector<void*> pages;
  for (std::size_t i = 0; i < before.freePages + PagePool::kPagesPerBlock; ++i)
    pages.push_back(pool.TakePage());
  EXPECT_GT(pool.ReadUsage().blocks, before.blocks);
  EXPECT_GT(HeapBytesInUse(), bytesBefore);
  // Back in an order other than the one they came in: odd positions first, then even ones.
  for (std::size_t start : {1u, 0u})
    for (std::size_t i = start; i < pages.size(); i += 2)
      pool.ReturnPage(pages[i]);
  const PagePool::Usage after = pool.ReadUsage();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.freePages, before.freePages);
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

TEST(PagePoolTest, PagesReturnedTogetherUnmapEachBlockOnce) {
  PagePool& pool = PagePool::Instance();
  const PagePool::Usage before = pool.ReadUsage();
  const MemoryStats statsBefore = ReadMemoryStats();
  std::vector<void*> pages;
  for (std::size_t i = 0; i < before.freePages + 5 * PagePool::kPagesPerBlock; ++i)
    pages.push_back(pool.TakePage());
  const std::size_t mapped = pool.ReadUsage().blocks - before.blocks;
  pool.ReturnPages(pages.data(), pages.size());
  const MemoryStats stats = ReadMemoryStats();
  EXPECT_EQ(pool.ReadUsage().blocks, before.blocks);
  EXPECT_EQ(stats.bytesAllocated - statsBefore.bytesAllocated, stats.bytesFreed - statsBefore.bytesFreed);
  EXPECT_EQ(stats.allocationCount - statsBefore.allocationCount, stats.freeCount - statsBefore.freeCount);
  EXPECT_GE(stats.freeCount - statsBefore.freeCount, mapped) << "each unmapped block counts once";
}

// Whether the page holds memory: false also when it is no longer mapped at all.
bool Resident(void* page) {
  unsigned char state = 0;
  if (mincore(page, PagePool::kPageSize, &state) != 0) {
    EXPECT_EQ(errno, ENOMEM);
    return false;
  }
  return (state & 1) != 0;
}

// Blocks freed one page at a time and many pages at once keep no page resident, whether the pool kept
// their address range for the next block or unmapped it; the counters come back to where they were.
TEST(PagePoolTest, FreedBlocksKeepNoPageResident) {
  PagePool& pool = PagePool::Instance();
  for (const bool together : {false, true}) {
    for (int round = 0; round < 3; ++round) {  // later rounds take the kept range again
      const PagePool::Usage before = pool.ReadUsage();
      const std::uint64_t bytesBefore = HeapBytesInUse();
      std::vector<void*> pages;
      for (std::size_t i = 0; i < before.freePages + 3 * PagePool::kPagesPerBlock; ++i) {
        pages.push_back(pool.TakePage());
        ASSERT_NE(pages.back(), nullptr);
        std::memset(pages.back(), 0x5A, PagePool::kPageSize);
      }
      // Pages past the free ones the pool had come from blocks of their own.
      const std::vector<void*> fresh(pages.begin() + static_cast<std::ptrdiff_t>(before.freePages),
                                     pages.end());
      for (void* page : fresh)
        ASSERT_TRUE(Resident(page)) << "a written page must be resident for the check to mean anything";
      if (together) {
        pool.ReturnPages(pages.data(), pages.size());
      } else {
        for (void* page : pages)
          pool.ReturnPage(page);
      }
      for (void* page : fresh)
        EXPECT_FALSE(Resident(page)) << "round " << round << (together ? ", together" : ", one by one");
      EXPECT_EQ(pool.ReadUsage().blocks, before.blocks);
      EXPECT_EQ(pool.ReadUsage().freePages, before.freePages);
      EXPECT_EQ(HeapBytesInUse(), bytesBefore);
    }
  }
}

TEST(PagePoolTest, RefusedBlockGivesNoPage) {
  PagePool& pool = PagePool::Instance();
  const PagePool::Usage before = pool.ReadUsage();
  std::vector<void*> drained;  // use up the free pages so that the next take needs a block
  for (std::size_t i = 0; i < before.freePages; ++i)
    drained.push_back(pool.TakePage());
  const std::uint64_t bytesBefore = HeapBytesInUse();
  // 1: the memory is refused; 2: its bookkeeping is. Twice, the second time with a kept range to reuse.
  for (std::uint64_t nth : {1u, 2u, 1u, 2u}) {
    FailNthHeapAllocation(nth);
    EXPECT_EQ(pool.TakePage(), nullptr) << nth;
    FailNthHeapAllocation(0);
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << nth;
  }
  EXPECT_EQ(pool.ReadUsage().blocks, before.blocks);
  void* page = pool.TakePage();  // and the pool still works
  ASSERT_NE(page, nullptr);
  pool.ReturnPage(page);
  for (void* page : drained)
    pool.ReturnPage(page);
}

TEST(PagePoolTest, ThreadsShareThePoolSafely) {
  const std::uint64_t bytesBefore = HeapBytesInUse();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      std::vector<void*> pages;
      for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 20; ++i) {
          pages.push_back(PagePool::Instance().TakePage());
          *static_cast<void**>(pages.back()) = pages.back();
        }
        for (void* page : pages) {
          ASSERT_EQ(*static_cast<void**>(page), page) << "page shared between threads";
          PagePool::Instance().ReturnPage(page);
        }
        pages.clear();
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

}  // namespace
}  // namespace Quarn
