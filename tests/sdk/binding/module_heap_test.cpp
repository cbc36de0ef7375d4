#include "sdk/binding/module_heap.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace Quarn {
namespace {

// The counters are process-wide, so each test reads them before and after and compares differences.
MemoryStats Difference(const MemoryStats& after, const MemoryStats& before) {
  MemoryStats d;
  d.bytesAllocated = after.bytesAllocated - before.bytesAllocated;
  d.allocationCount = after.allocationCount - before.allocationCount;
  d.bytesFreed = after.bytesFreed - before.bytesFreed;
  d.freeCount = after.freeCount - before.freeCount;
  return d;
}

TEST(ModuleHeapTest, HooksCountUsableSizes) {
  const MemoryStats start = ReadMemoryStats();
  void* block = HeapAllocate(100);
  ASSERT_NE(block, nullptr);
  const std::size_t first = malloc_usable_size(block);
  void* grown = HeapReallocate(block, 5000);
  ASSERT_NE(grown, nullptr);
  const std::size_t second = malloc_usable_size(grown);
  char* text = HeapDuplicateText("abc");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "abc");
  const std::size_t third = malloc_usable_size(text);
  HeapFree(grown);
  HeapFree(text);
  HeapFree(nullptr);

  const MemoryStats d = Difference(ReadMemoryStats(), start);
  EXPECT_EQ(d.bytesAllocated, first + second + third);
  EXPECT_EQ(d.allocationCount, 3u);  // the reallocation is one release and one allocation
  EXPECT_EQ(d.bytesFreed, first + second + third);
  EXPECT_EQ(d.freeCount, 3u);
}

// A kept block is counted released when kept and allocated when handed out again, so the counters
// read as if each had met the system allocator; only one block per size and thread is kept, the
// failure switch refuses a kept block too, and a thread's kept block goes with the thread (the leak
// checker of the sanitizer build sees it otherwise). Run on threads of their own, whose keep starts
// empty.
TEST(ModuleHeapTest, KeptBlocksCountAsEveryOtherBlock) {
  std::thread([] {
    const MemoryStats start = ReadMemoryStats();
    const std::uint64_t inUse = HeapBytesInUse();
    void* first = HeapAllocateKept(6000);
    void* second = HeapAllocateKept(6000);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const std::size_t size = malloc_usable_size(first) + malloc_usable_size(second);
    HeapFreeKept(first);   // kept
    HeapFreeKept(second);  // one is kept already: freed
    EXPECT_EQ(HeapBytesInUse(), inUse);
    void* again = HeapAllocateKept(6000);
    EXPECT_EQ(again, first);
    void* other = HeapAllocateKept(6000);  // the keep is empty: a new block
    EXPECT_NE(other, nullptr);
    HeapFreeKept(other);
    void* sized = HeapAllocateKept(100);  // would waste most of it: not the kept block
    EXPECT_NE(sized, other);
    HeapFreeKept(sized);
    HeapFreeKept(again);
    EXPECT_EQ(HeapBytesInUse(), inUse);

    // The switch refuses the kept block as it refuses any other.
    FailNthHeapAllocation(1);
    EXPECT_EQ(HeapAllocateKept(6000), nullptr);
    EXPECT_EQ(FailNthHeapAllocation(0), 0u);  // fired
    void* afterFailure = HeapAllocateKept(6000);
    ASSERT_NE(afterFailure, nullptr);
    HeapFreeKept(afterFailure);

    const MemoryStats d = Difference(ReadMemoryStats(), start);
    EXPECT_EQ(d.bytesAllocated, d.bytesFreed);
    EXPECT_EQ(d.allocationCount, d.freeCount);
    EXPECT_EQ(d.allocationCount, 6u);
    EXPECT_GE(d.bytesAllocated, size);
  }).join();
}

// The kept block serves a request it holds with no more than half of it left unused, and no other.
TEST(ModuleHeapTest, AKeptBlockServesTheSizesItFits) {
  struct Case {
    std::size_t request;
    bool served;
  };
  const Case cases[] = {{6000, true}, {4000, true}, {1000, false}, {7000, false}};
  for (const Case& c : cases) {
    std::thread([c] {
      const std::uint64_t inUse = HeapBytesInUse();
      void* kept = HeapAllocateKept(6000);
      ASSERT_NE(kept, nullptr);
      HeapFreeKept(kept);
      void* block = HeapAllocateKept(c.request);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(block == kept, c.served) << c.request;
      EXPECT_GE(malloc_usable_size(block), c.request);
      HeapFreeKept(block);
      EXPECT_EQ(HeapBytesInUse(), inUse) << c.request;
    }).join();
  }
  // Of two blocks freed, the larger stays.
  std::thread([] {
    const std::uint64_t inUse = HeapBytesInUse();
    void* small = HeapAllocateKept(3000);
    void* large = HeapAllocateKept(6000);
    HeapFreeKept(small);
    HeapFreeKept(large);
    EXPECT_EQ(HeapBytesInUse(), inUse);
    void* again = HeapAllocateKept(5000);
    EXPECT_EQ(again, large);
    HeapFreeKept(again);
  }).join();
}

// Small blocks freed on a thread serve later allocations there. Whatever sizes come and go, a block
// handed out holds what was asked, the counters read as if every block met the system allocator, and
// the switch refuses a block the thread holds as it refuses any other. Run on a thread of its own,
// whose blocks go with it (the sanitizer build's leak checker sees them otherwise).
TEST(ModuleHeapTest, SmallBlocksComeBackWithTheirSizeAndCounts) {
  std::thread([] {
    const MemoryStats start = ReadMemoryStats();
    const std::uint64_t inUse = HeapBytesInUse();
    const std::size_t sizes[] = {0, 1, 8, 16, 24, 25, 40, 100, 255, 256, 500, 1000, 1016, 1017, 1024, 4000};
    std::vector<void*> blocks;
    for (int round = 0; round < 3; ++round) {
      for (std::size_t size : sizes) {
        for (std::size_t other : sizes) {
          void* block = HeapAllocate(size);
          ASSERT_NE(block, nullptr);
          EXPECT_GE(malloc_usable_size(block), size) << size;
          std::memset(block, 0x5a, size);
          blocks.push_back(block);
          if (other > size) continue;
          HeapFree(blocks.back());  // freed at once: its class serves the next one
          blocks.pop_back();
        }
      }
      for (void* block : blocks)
        HeapFree(block);
      blocks.clear();
      EXPECT_EQ(HeapBytesInUse(), inUse);
    }

    void* kept = HeapAllocate(100);
    HeapFree(kept);
    FailNthHeapAllocation(1);
    EXPECT_EQ(HeapAllocate(100), nullptr);
    EXPECT_EQ(FailNthHeapAllocation(0), 0u);  // fired

    const MemoryStats d = Difference(ReadMemoryStats(), start);
    EXPECT_EQ(d.bytesAllocated, d.bytesFreed);
    EXPECT_EQ(d.allocationCount, d.freeCount);
    EXPECT_EQ(d.allocationCount, 3 * 16 * 16 + 1u);
  }).join();
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GOX_HEAP_TEST_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define GOX_HEAP_TEST_UNDER_ASAN 1
#endif

#ifdef GOX_HEAP_TEST_UNDER_ASAN
#include <sanitizer/lsan_interface.h>

// A small block its thread keeps stays poisoned until it is handed out again, so that a write through
// a stale pointer is reported as it is for a block malloc took back. On a thread of its own, whose keep
// has room.
TEST(ModuleHeapDeathTest, AKeptBlockCannotBeWrittenThroughAStalePointer) {
  EXPECT_DEATH(std::thread([] {
                 auto* block = static_cast<volatile char*>(HeapAllocate(64));
                 HeapFree(const_cast<char*>(block));
                 block[8] = 1;
               }).join(),
               "use-after-poison");
}

// Blocks a thread keeps are reachable through it, so the leak checker, which runs between the inputs
// of a fuzz target, does not take them for leaks.
TEST(ModuleHeapTest, KeptBlocksAreNoLeaks) {
  {
    void* blocks[8];
    for (void*& block : blocks)
      block = HeapAllocate(64);
    for (void*& block : blocks)
      HeapFree(std::exchange(block, nullptr));
  }
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
#endif

TEST(ModuleHeapTest, MappedPagesCountAtTheirSize) {
  const MemoryStats start = ReadMemoryStats();
  void* pages = HeapMapPages(65536);
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pages) % 4096, 0u);
  static_cast<char*>(pages)[65535] = 1;
  HeapUnmapPages(pages, 65536);
  const MemoryStats d = Difference(ReadMemoryStats(), start);
  EXPECT_EQ(d.bytesAllocated, 65536u);
  EXPECT_EQ(d.bytesFreed, 65536u);
}

TEST(ModuleHeapTest, PeakFollowsBytesInUseAndLiveAllocations) {
  // A peak far above anything the process held so far, so that this test sets it.
  const std::uint64_t big = ReadMemoryStats().peakBytesInUse + (64u << 20);
  std::vector<void*> blocks;
  for (int i = 0; i < 3; ++i)
    blocks.push_back(HeapAllocate(16));
  const std::uint64_t liveBefore = ReadMemoryStats().allocationCount - ReadMemoryStats().freeCount;
  void* large = HeapAllocate(big);
  ASSERT_NE(large, nullptr);
  const std::uint64_t inUse = HeapBytesInUse();
  HeapFree(large);
  for (void* b : blocks)
    HeapFree(b);

  const MemoryStats stats = ReadMemoryStats();
  EXPECT_EQ(stats.peakBytesInUse, inUse);
  EXPECT_EQ(stats.allocationsAtPeak, liveBefore + 1);
  EXPECT_EQ(stats.reserved[0], 0u);
  EXPECT_EQ(stats.reserved[1], 0u);
}

// A restarted peak must forget an earlier, higher use and then follow the new window's highest point,
// not its end.
TEST(ModuleHeapTest, RestartedPeakShowsTheHighestUseSinceTheRestart) {
  void* earlier = HeapAllocate(1u << 20);
  ASSERT_NE(earlier, nullptr);
  HeapFree(earlier);
  RestartMemoryPeak();
  const std::uint64_t base = HeapBytesInUse();
  EXPECT_EQ(ReadMemoryStats().peakBytesInUse, base);
  void* first = HeapAllocate(4000);
  void* second = HeapAllocate(8000);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const std::uint64_t top = HeapBytesInUse();
  const std::uint64_t liveAtTop = ReadMemoryStats().allocationCount - ReadMemoryStats().freeCount;
  HeapFree(second);
  HeapFree(first);
  const MemoryStats stats = ReadMemoryStats();
  EXPECT_EQ(stats.peakBytesInUse, top);
  EXPECT_EQ(stats.allocationsAtPeak, liveAtTop);
  EXPECT_LT(stats.peakBytesInUse, base + (1u << 20));
}

// Allocations and frees on other threads land between one allocation's reads of the counters; the bytes
// in use they compute must never wrap below zero into a huge peak.
TEST(ModuleHeapTest, PeakStaysSaneUnderConcurrentTraffic) {
  constexpr int kRounds = 20000;
  const auto churn = [] {
    for (int i = 0; i < kRounds; ++i)
      HeapFree(HeapAllocate(static_cast<std::size_t>(16 + i % 512)));
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back(churn);
  for (std::thread& thread : threads)
    thread.join();
  const MemoryStats stats = ReadMemoryStats();
  EXPECT_LE(stats.peakBytesInUse, stats.bytesAllocated);
  EXPECT_LE(stats.allocationsAtPeak, stats.allocationCount);
  EXPECT_LE(HeapBytesInUse(), stats.bytesAllocated);
}

TEST(ModuleHeapTest, FailureSwitchFailsExactlyTheNthAllocation) {
  EXPECT_EQ(FailNthHeapAllocation(3), 0u);
  void* first = HeapAllocate(8);
  void* second = HeapAllocate(8);
  void* third = HeapAllocate(8);
  void* fourth = HeapAllocate(8);
  EXPECT_EQ(FailNthHeapAllocation(0), 0u);  // fired
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);

  // A failed reallocation leaves the old block as it was.
  static_cast<char*>(first)[0] = 'x';
  FailNthHeapAllocation(1);
  EXPECT_EQ(HeapReallocate(first, 4096), nullptr);
  EXPECT_EQ(static_cast<char*>(first)[0], 'x');
  void* pages = HeapMapPages(4096);  // the switch is one-shot
  EXPECT_NE(pages, nullptr);
  HeapUnmapPages(pages, 4096);
  for (void* b : {first, second, fourth})
    HeapFree(b);
}

// The lasting switch fails its nth allocation and every one after it, through every hook that
// allocates, until it is disarmed; the one-shot switch armed after it does not inherit the mode.
TEST(ModuleHeapTest, LastingFailureSwitchFailsEveryAllocationFromTheNthOn) {
  EXPECT_EQ(FailHeapAllocationsFrom(2), 0u);
  void* first = HeapAllocate(8);
  void* second = HeapAllocate(8);
  void* third = HeapAllocate(8);
  void* pages = HeapMapPages(4096);
  char* text = HeapDuplicateText("abc");
  const bool recommitted = HeapRecommitPages(first, 4096);
  void* grown = HeapReallocate(first, 64);
  EXPECT_EQ(FailHeapAllocationsFrom(0), 0u);  // fired
  EXPECT_NE(first, nullptr);
  const void* const refused[] = {second, third, pages, text, grown};
  for (const void* block : refused)
    EXPECT_EQ(block, nullptr);
  EXPECT_FALSE(recommitted);

  void* after = HeapAllocate(8);  // disarmed
  EXPECT_NE(after, nullptr);
  HeapFree(after);

  // Not yet fired: the answer says how far it still had to go.
  FailHeapAllocationsFrom(3);
  void* one = HeapAllocate(8);
  EXPECT_EQ(FailNthHeapAllocation(2), 2u);
  void* two = HeapAllocate(8);
  void* three = HeapAllocate(8);  // the one-shot switch fires here
  void* four = HeapAllocate(8);   // and lets this one through
  EXPECT_EQ(FailNthHeapAllocation(0), 0u);
  EXPECT_NE(two, nullptr);
  EXPECT_EQ(three, nullptr);
  EXPECT_NE(four, nullptr);
  for (void* b : {first, one, two, four})
    HeapFree(b);
}

}  // namespace
}  // namespace Quarn
