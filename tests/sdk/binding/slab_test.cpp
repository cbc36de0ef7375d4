#include "sdk/binding/slab.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "sdk/binding/page_pool.h"
#include "tests/support/inline_slab.h"

namespace Quarn {
namespace {

TEST(SlabTest, SlotsOfEveryClassAreDistinctAlignedAndDisjoint) {
  InlineSlab slab;
  for (std::size_t size = 1; size <= Slab::kMaxSlotSize; ++size) {
    const std::size_t slotSize = (size + 3) / 4 * 4;
    std::vector<unsigned char*> slots;
    // Enough slots to fill the inline page and spill over two pool pages.
    const std::size_t count = 2 * PagePool::kPageSize / slotSize + 4;
    for (std::size_t i = 0; i < count; ++i) {
      auto* slot = static_cast<unsigned char*>(slab.Allocate(size));
      ASSERT_NE(slot, nullptr) << size;
      EXPECT_TRUE(slotSize % 8 != 0 || reinterpret_cast<std::uintptr_t>(slot) % 8 == 0) << size;
      std::memset(slot, static_cast<int>(i), slotSize);
      slots.push_back(slot);
    }
    std::set<unsigned char*> distinct(slots.begin(), slots.end());
    EXPECT_EQ(distinct.size(), slots.size()) << size;
    for (std::size_t i = 0; i < slots.size(); ++i)
      for (std::size_t b = 0; b < slotSize; ++b)
        ASSERT_EQ(slots[i][b], static_cast<unsigned char>(i))
            << "slot " << i << " of size " << size << " overlapped";
    for (unsigned char* slot : slots)
      slab.Release(slot, size);
    EXPECT_EQ(slab.PagesHeld(), 0u) << size;
  }
}

// The records of a small tree (string records, container headers, enum records) fit in the slab's own
// bytes; the pool is asked only when a class outgrows its first page, and that page is laid out right.
TEST(SlabTest, SmallTreeTakesNoPageFromThePool) {
  struct Case {
    std::size_t size;
    std::size_t count;
  };
  const Case cases[] = {{40, 30}, {24, 20}, {16, 10}};
  InlineSlab slab;
  std::vector<std::pair<void*, std::size_t>> slots;
  for (const Case& c : cases)
    for (std::size_t i = 0; i < c.count; ++i)
      slots.emplace_back(slab.Allocate(c.size), c.size);
  EXPECT_EQ(slab.PagesHeld(), 0u);
  // Until the first page of the 40-byte class is full: then one pool page, whose slots work as well.
  std::size_t more = 0;
  while (slab.PagesHeld() == 0 && more < 100) {
    slots.emplace_back(slab.Allocate(40), 40);
    ++more;
  }
  EXPECT_EQ(slab.PagesHeld(), 1u);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    ASSERT_NE(slots[i].first, nullptr);
    std::memset(slots[i].first, static_cast<int>(i), slots[i].second);
  }
  for (std::size_t i = 0; i < slots.size(); ++i)
    for (std::size_t b = 0; b < slots[i].second; ++b)
      ASSERT_EQ(static_cast<unsigned char*>(slots[i].first)[b], static_cast<unsigned char>(i)) << "overlap";
  for (auto [slot, size] : slots)
    slab.Release(slot, size);
  EXPECT_EQ(slab.PagesHeld(), 0u);
}

TEST(SlabTest, PagesGoBackToThePoolAndBlocksToTheSystem) {
  const PagePool::Usage before = PagePool::Instance().ReadUsage();
  const std::uint64_t bytesBefore = HeapBytesInUse();
  {
    InlineSlab slab;
    std::vector<void*> slots;
    for (int i = 0; i < 5000; ++i)
      slots.push_back(slab.Allocate(24));
    EXPECT_GE(slab.PagesHeld(), 5000u * 24 / PagePool::kPageSize);
    // Freed slots are reused before any new page is taken.
    const std::size_t held = slab.PagesHeld();
    slab.Release(slots[100], 24);
    slots[100] = slab.Allocate(24);
    EXPECT_EQ(slab.PagesHeld(), held);
    for (void* slot : slots)
      slab.Release(slot, 24);
    EXPECT_EQ(slab.PagesHeld(), 0u);
  }
  EXPECT_EQ(PagePool::Instance().ReadUsage().blocks, before.blocks);
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

TEST(SlabTest, SlabKeepsPagesWithFreeSlotsUntilDestroyed) {
  const std::uint64_t bytesBefore = HeapBytesInUse();
  {
    InlineSlab slab;
    std::vector<void*> slots;
    for (int i = 0; i < 300; ++i)
      slots.push_back(slab.Allocate(64));
    // The last slot lies on a pool page, which stays while the slot is in use.
    for (std::size_t i = 0; i + 1 < slots.size(); ++i)
      slab.Release(slots[i], 64);
    EXPECT_EQ(slab.PagesHeld(), 1u);
    slab.Release(slots.back(), 64);
    EXPECT_EQ(slab.PagesHeld(), 0u);
  }
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

// Classes carve page after page from an area of any size, interleaved; slots of every page, in the
// area or the pool, are disjoint, come back in any order, and are handed out again before the pool is
// asked for more.
TEST(SlabTest, AreasOfEverySizeServeInterleavedClassesUntilSpent) {
  const std::size_t sizes[] = {1, 7, 24, 40, 44, 72};
  for (const std::size_t areaSize :
       {std::size_t{0}, std::size_t{100}, std::size_t{1000}, std::size_t{2500}, Slab::kMaxAreaBytes}) {
    alignas(8) unsigned char area[Slab::kMaxAreaBytes];
    const std::uint64_t bytesBefore = HeapBytesInUse();
    {
      Slab slab(area, areaSize);
      std::vector<std::pair<unsigned char*, std::size_t>> slots;
      for (std::size_t i = 0; i < 600; ++i) {
        const std::size_t size = sizes[(i * 7) % std::size(sizes)];
        auto* slot = static_cast<unsigned char*>(slab.Allocate(size));
        ASSERT_NE(slot, nullptr) << areaSize;
        std::memset(slot, static_cast<int>(i), size);
        slots.emplace_back(slot, size);
      }
      std::size_t inArea = 0;
      for (std::size_t i = 0; i < slots.size(); ++i) {
        inArea += slots[i].first >= area && slots[i].first < area + areaSize;
        for (std::size_t b = 0; b < slots[i].second; ++b)
          ASSERT_EQ(slots[i].first[b], static_cast<unsigned char>(i))
              << areaSize << ": slot " << i << " overlapped";
      }
      // Most of a small area is used before pool pages are drawn.
      EXPECT_GE(inArea * 40, areaSize / 2) << areaSize;
      // Every other slot back, then as many again: the freed slots serve them without a new page.
      const std::size_t pages = slab.PagesHeld();
      for (std::size_t i = 0; i < slots.size(); i += 2)
        slab.Release(slots[i].first, slots[i].second);
      for (std::size_t i = 0; i < slots.size(); i += 2) {
        slots[i].first = static_cast<unsigned char*>(slab.Allocate(slots[i].second));
        ASSERT_NE(slots[i].first, nullptr);
      }
      EXPECT_EQ(slab.PagesHeld(), pages) << areaSize;
      for (std::size_t i = slots.size(); i-- > 0;)
        slab.Release(slots[i].first, slots[i].second);
      EXPECT_EQ(slab.PagesHeld(), 0u) << areaSize;
    }
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << areaSize;
  }
}

}  // namespace
}  // namespace Quarn
