#include "sdk/binding/module_heap.h"

#include <malloc.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace Quarn {
namespace {

std::atomic<std::uint64_t> gPeakBytesInUse{0};
std::atomic<std::uint64_t> gAllocationsAtPeak{0};
std::atomic<std::uint64_t> gBytesAllocated{0};
std::atomic<std::uint64_t> gAllocationCount{0};
std::atomic<std::uint64_t> gBytesFreed{0};
std::atomic<std::uint64_t> gFreeCount{0};

// 0: disarmed; n: the nth allocation from now fails. When gFailOnward is set, the countdown stays at 1
// once it gets there, so that allocation and every later one fail.
std::atomic<std::uint64_t> gFailCountdown{0};
std::atomic<bool> gFailOnward{false};
std::atomic<bool> gFailOnwardFired{false};  // a lasting setting has failed an allocation
std::atomic<std::uint64_t> gRefused{0};

// Counts a refused allocation and answers the null the hooks then return.
std::nullptr_t Refused() noexcept {
  gRefused.fetch_add(1, std::memory_order_relaxed);
  return nullptr;
}

// True when the test switch says this allocation fails. One relaxed load when disarmed.
bool InjectedFailure() noexcept {
  std::uint64_t left = gFailCountdown.load(std::memory_order_relaxed);
  while (left != 0) {
    if (left == 1 && gFailOnward.load(std::memory_order_relaxed)) {
      gFailOnwardFired.store(true, std::memory_order_relaxed);
      Refused();
      return true;
    }
    if (gFailCountdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      if (left == 1) Refused();
      return left == 1;
    }
  }
  return false;
}

// a - b, or 0 when another thread's counts made b the larger.
std::uint64_t Remaining(std::uint64_t a, std::uint64_t b) noexcept {
  return a > b ? a - b : 0;
}

void CountAllocation(std::uint64_t size) noexcept {
  // The frees are read before the allocations are added to: a block is counted allocated before it can
  // be counted freed, so frees read first never exceed the allocations read after them. Read in the
  // other order, another thread's allocation and free in between would make the difference wrap.
  const std::uint64_t freed = gBytesFreed.load();
  const std::uint64_t frees = gFreeCount.load();
  const std::uint64_t allocated = gBytesAllocated.fetch_add(size) + size;
  const std::uint64_t count = gAllocationCount.fetch_add(1) + 1;
  const std::uint64_t inUse = Remaining(allocated, freed);
  std::uint64_t peak = gPeakBytesInUse.load();
  while (inUse > peak) {
    if (gPeakBytesInUse.compare_exchange_weak(peak, inUse)) {
      gAllocationsAtPeak.store(Remaining(count, frees));
      break;
    }
  }
}

void CountRelease(std::uint64_t size) noexcept {
  gBytesFreed.fetch_add(size);
  gFreeCount.fetch_add(1);
}

}  // namespace

MemoryStats ReadMemoryStats() noexcept {
  MemoryStats stats;
  stats.peakBytesInUse = gPeakBytesInUse.load();
  stats.allocationsAtPeak = gAllocationsAtPeak.load();
  stats.bytesAllocated = gBytesAllocated.load();
  stats.allocationCount = gAllocationCount.load();
  stats.bytesFreed = gBytesFreed.load();
  stats.freeCount = gFreeCount.load();
  return stats;
}

std::uint64_t HeapBytesInUse() noexcept {
  const std::uint64_t freed = gBytesFreed.load();
  return Remaining(gBytesAllocated.load(), freed);
}

void RestartMemoryPeak() noexcept {
  const std::uint64_t freed = gBytesFreed.load();
  const std::uint64_t frees = gFreeCount.load();
  gPeakBytesInUse.store(Remaining(gBytesAllocated.load(), freed));
  gAllocationsAtPeak.store(Remaining(gAllocationCount.load(), frees));
}

void* HeapAllocate(std::size_t size) noexcept {
  if (InjectedFailure()) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return Refused();
  CountAllocation(malloc_usable_size(block));
  return block;
}

namespace {

// The block HeapFreeKept kept on this thread, freed when the thread ends.
struct KeptBlock {
  void* block = nullptr;
  std::size_t size = 0;
  ~KeptBlock() { std::free(block); }
};
thread_local KeptBlock tKept;

}  // namespace

void* HeapAllocateKept(std::size_t size) noexcept {
  KeptBlock& kept = tKept;
  if (kept.block == nullptr || kept.size != size) return HeapAllocate(size);
  if (InjectedFailure()) return nullptr;
  void* block = std::exchange(kept.block, nullptr);
  CountAllocation(malloc_usable_size(block));
  return block;
}

void HeapFreeKept(void* pointer, std::size_t size) noexcept {
  KeptBlock& kept = tKept;
  if (pointer == nullptr) return;
  if (kept.block != nullptr) return HeapFree(pointer);
  CountRelease(malloc_usable_size(pointer));
  kept.block = pointer;
  kept.size = size;
}

void* HeapReallocate(void* pointer, std::size_t size) noexcept {
  if (pointer == nullptr) return HeapAllocate(size);
  if (InjectedFailure()) return nullptr;
  const std::size_t oldSize = malloc_usable_size(pointer);
  void* block = std::realloc(pointer, size == 0 ? 1 : size);
  if (block == nullptr) return Refused();
  CountRelease(oldSize);
  CountAllocation(malloc_usable_size(block));
  return block;
}

void HeapFree(void* pointer) noexcept {
  if (pointer == nullptr) return;
  CountRelease(malloc_usable_size(pointer));
  std::free(pointer);
}

char* HeapDuplicateText(std::string_view text) noexcept {
  auto* copy = static_cast<char*>(HeapAllocate(text.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void* HeapMapPages(std::size_t size) noexcept {
  if (InjectedFailure()) return nullptr;
  // Not populated: a small tree writes one or two pages of a block, and the others would cost a fault
  // each for nothing.
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return Refused();
  CountAllocation(size);
  return block;
}

void HeapUnmapPages(void* pointer, std::size_t size) noexcept {
  HeapUnmapAdjacentPages(pointer, size, 1);
}

void HeapUnmapAdjacentPages(void* pointer, std::size_t size, std::size_t count) noexcept {
  if (pointer == nullptr) return;
  munmap(pointer, size * count);
  for (std::size_t i = 0; i < count; ++i)
    CountRelease(size);
}

bool HeapDecommitPages(void* pointer, std::size_t size) noexcept {
  // Private anonymous memory: the pages are dropped at once, and later reads see zeros.
  if (pointer == nullptr || madvise(pointer, size, MADV_DONTNEED) != 0) return false;
  CountRelease(size);
  return true;
}

bool HeapRecommitPages(void* pointer, std::size_t size) noexcept {
  if (pointer == nullptr || InjectedFailure()) return false;
  CountAllocation(size);
  return true;
}

namespace {

// Arms the switch in the given mode and answers what the previous setting still had to go: 0 also for a
// lasting setting that has failed an allocation, like a one-shot one that has fired.
std::uint64_t ArmFailureSwitch(std::uint64_t nth, bool onward) noexcept {
  // Disarmed first, so that no allocation in between sees the new countdown with the old mode.
  const std::uint64_t left = gFailCountdown.exchange(0);
  const bool wasOnward = gFailOnward.exchange(onward && nth != 0);
  const bool fired = gFailOnwardFired.exchange(false);
  gFailCountdown.store(nth);
  return wasOnward && fired ? 0 : left;
}

}  // namespace

std::uint64_t RefusedHeapAllocations() noexcept {
  return gRefused.load(std::memory_order_relaxed);
}

std::uint64_t FailNthHeapAllocation(std::uint64_t nth) noexcept {
  return ArmFailureSwitch(nth, false);
}

std::uint64_t FailHeapAllocationsFrom(std::uint64_t nth) noexcept {
  return ArmFailureSwitch(nth, true);
}

}  // namespace Quarn
