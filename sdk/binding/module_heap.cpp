#include "sdk/binding/module_heap.h"

#include <malloc.h>
#include <pthread.h>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
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

namespace {

// What the hooks keep on each thread: small freed blocks by size class, waiting for the next
// allocation of their class, and the one block HeapFreeKept keeps. A tree built and dropped again and
// again (a call's arguments, a decoded document) then meets the system allocator only the first time.
// A block is counted released when it is kept and allocated when it is handed out again, so the
// counters read as if every block had met the system allocator.
//
// The classes are malloc's own: usable sizes in 16-byte steps, 24 bytes up to kLargestCachedUsable.
// A block joins the class of the largest requests its usable size serves, and a request is served by
// the class of the smallest usable size that holds it, so a block handed out always holds what was
// asked, whatever sizes the system allocator reports.
//
// Zero-initialised and without a destructor, so that reaching it costs no guard; CloseThreadHeap
// gives its blocks back when the thread ends.
constexpr std::size_t kClassStep = 16;
constexpr std::size_t kLargestCachedUsable = 1024 - 8;
constexpr std::size_t kCacheClasses = (kLargestCachedUsable + 8) / kClassStep + 1;
constexpr std::size_t kFirstCacheClass = 2;  // 24 usable bytes: room for the link and the size
// What one thread may hold in small blocks at most, and in one class.
constexpr std::size_t kCachedBytesPerThread = 256 * 1024;
constexpr std::uint16_t kCachedPerClass = 4096;

struct ThreadHeap {
  void* heads[kCacheClasses];  // each block's first bytes hold the next one of its class
  std::uint16_t counts[kCacheClasses];
  std::size_t cachedBytes;
  void* kept;            // HeapFreeKept's block
  std::size_t keptSize;  // its usable bytes
  bool registered;       // the thread key is set to close it
  bool closed;           // it has run: blocks go straight back to the system allocator
};
thread_local constinit ThreadHeap tHeap{};

// A kept block is poisoned for the address sanitizer, which then reports a use after free of it as
// it would for a block given back to the system allocator. The link to the next block stays readable:
// the leak checker does not follow pointers kept in poisoned memory, and would take every kept block
// but the first of its class for a leak.
void Unpoison(void* block, std::size_t size) noexcept {
  ASAN_UNPOISON_MEMORY_REGION(static_cast<char*>(block) + sizeof(void*), size - sizeof(void*));
}
void Poison(void* block, std::size_t size) noexcept {
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + sizeof(void*), size - sizeof(void*));
}

// The usable bytes of class c's blocks, at the least.
constexpr std::size_t ClassUsable(std::size_t c) noexcept {
  return c * kClassStep - 8;
}

// A kept block holds the next one of its class in its first word and its usable size in its second.
void Push(ThreadHeap& heap, std::size_t c, void* block, std::size_t usable) noexcept {
  std::memcpy(block, &heap.heads[c], sizeof(void*));
  std::memcpy(static_cast<char*>(block) + sizeof(void*), &usable, sizeof usable);
  Poison(block, ClassUsable(c));
  heap.heads[c] = block;
  ++heap.counts[c];
  heap.cachedBytes += c * kClassStep;
}

// The first block of class c, or null; usable is its usable size.
void* Pop(ThreadHeap& heap, std::size_t c, std::size_t& usable) noexcept {
  void* block = heap.heads[c];
  if (block == nullptr) return nullptr;
  Unpoison(block, ClassUsable(c));
  std::memcpy(&heap.heads[c], block, sizeof(void*));
  std::memcpy(&usable, static_cast<char*>(block) + sizeof(void*), sizeof usable);
  --heap.counts[c];
  heap.cachedBytes -= c * kClassStep;
  return block;
}

// Gives a thread's blocks back to the system allocator and lets it keep no more.
void CloseThreadHeap(void*) noexcept {
  ThreadHeap& heap = tHeap;
  heap.closed = true;
  std::size_t usable;
  for (std::size_t c = kFirstCacheClass; c < kCacheClasses; ++c)
    while (void* block = Pop(heap, c, usable))
      std::free(block);
  std::free(std::exchange(heap.kept, nullptr));
}

// Set once the module's statics are torn down: no thread keeps a block after that.
std::atomic<bool> gKeepingEnded{false};

// Closes each thread's heap when the thread ends. A thread key, not a thread_local destructor: the C
// runtime does not unload a module while a thread_local destructor of its code is pending, so that
// would keep a closed module mapped for as long as any thread that freed a block lives. The key is
// deleted when the module's statics are torn down (process exit, or the module unloaded), after which
// threads that still end do not call into it; their kept blocks are then left to the system.
struct ThreadHeapKey {
  pthread_key_t key{};
  bool made = pthread_key_create(&key, CloseThreadHeap) == 0;
  ThreadHeapKey() noexcept = default;
  ~ThreadHeapKey() {
    gKeepingEnded.store(true, std::memory_order_relaxed);
    if (made) pthread_key_delete(key);
    CloseThreadHeap(nullptr);
  }
};

// False when nothing may be kept on this thread: its heap is closed, or it cannot be closed when the
// thread ends.
bool MayKeep(ThreadHeap& heap) noexcept {
  if (!heap.registered) {
    heap.registered = true;
    static ThreadHeapKey threadHeapKey;
    heap.closed = !threadHeapKey.made || pthread_setspecific(threadHeapKey.key, &heap) != 0;
  }
  return !heap.closed && !gKeepingEnded.load(std::memory_order_relaxed);
}

// The class whose blocks serve a request of size bytes; 0 when such requests are not cached.
std::size_t ServingClass(std::size_t size) noexcept {
  if (size > kLargestCachedUsable) return 0;
  const std::size_t c = (size + 8 + kClassStep - 1) / kClassStep;
  return c < kFirstCacheClass ? kFirstCacheClass : c;
}

// The class a block of that usable size joins; 0 when it is not cached.
std::size_t JoiningClass(std::size_t usable) noexcept {
  const std::size_t c = (usable + 8) / kClassStep;
  return c < kFirstCacheClass || c >= kCacheClasses ? 0 : c;
}

void* TakeCached(std::size_t size, std::size_t& usable) noexcept {
  const std::size_t c = ServingClass(size);
  return c == 0 ? nullptr : Pop(tHeap, c, usable);
}

// True when the block of that usable size is kept for a later allocation.
bool PutCached(void* block, std::size_t usable) noexcept {
  const std::size_t c = JoiningClass(usable);
  if (c == 0) return false;
  ThreadHeap& heap = tHeap;
  if (heap.counts[c] == kCachedPerClass || heap.cachedBytes + c * kClassStep > kCachedBytesPerThread ||
      !MayKeep(heap))
    return false;
  Push(heap, c, block, usable);
  return true;
}

}  // namespace

void* HeapAllocate(std::size_t size) noexcept {
  if (InjectedFailure()) return nullptr;
  std::size_t usable = 0;
  void* block = TakeCached(size, usable);
  if (block == nullptr) {
    if ((block = std::malloc(size == 0 ? 1 : size)) == nullptr) return Refused();
    usable = malloc_usable_size(block);
  }
  CountAllocation(usable);
  return block;
}

void* HeapAllocateKept(std::size_t size) noexcept {
  ThreadHeap& heap = tHeap;
  // The kept block serves any request it holds that leaves no more than half of it unused.
  if (heap.kept == nullptr || size > heap.keptSize || heap.keptSize / 2 > size) return HeapAllocate(size);
  if (InjectedFailure()) return nullptr;
  void* block = std::exchange(heap.kept, nullptr);
  CountAllocation(malloc_usable_size(block));
  return block;
}

void HeapFreeKept(void* pointer) noexcept {
  ThreadHeap& heap = tHeap;
  if (pointer == nullptr) return;
  const std::size_t usable = malloc_usable_size(pointer);
  // Of two blocks the larger is kept: it serves more of the sizes that come.
  if ((heap.kept != nullptr && usable <= heap.keptSize) || !MayKeep(heap)) return HeapFree(pointer);
  CountRelease(usable);
  std::free(std::exchange(heap.kept, pointer));  // counted released when it was kept
  heap.keptSize = usable;
}

void HeapKeep(void* pointer) noexcept {
  if (pointer != nullptr) CountRelease(malloc_usable_size(pointer));
}

bool HeapReclaim(void* pointer) noexcept {
  if (pointer == nullptr) return true;
  if (InjectedFailure()) return false;
  CountAllocation(malloc_usable_size(pointer));
  return true;
}

void HeapDiscardKept(void* pointer) noexcept {
  std::free(pointer);
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
  const std::size_t usable = malloc_usable_size(pointer);
  CountRelease(usable);
  if (!PutCached(pointer, usable)) std::free(pointer);
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
  // Populated: a new mapping serves a tree that has outgrown what the pool holds, which writes its pages
  // one after the other. The kernel then provides them in one call, where each page's first write
  // would otherwise take a fault of its own.
  void* block =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
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
  // Provided again in one call, for the reason a new mapping is populated. A kernel without it, or one
  // short of memory now, leaves the range lazy: its pages still come on first write. One that does not
  // know the call is not asked again.
  static std::atomic<bool> populateUnknown{false};
  if (!populateUnknown.load(std::memory_order_relaxed) && madvise(pointer, size, MADV_POPULATE_WRITE) != 0 &&
      errno == EINVAL)
    populateUnknown.store(true, std::memory_order_relaxed);
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
