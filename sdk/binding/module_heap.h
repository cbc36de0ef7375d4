// The module heap: allocation hooks that every heap allocation of the SDK's value storage goes through,
// and the six memory counters the host core reads through GetMemoryStats.
//
// Each hook counts the usable size of the block it hands out or takes back. Blocks of pages mapped from
// the operating system are counted the same way, at their mapped size. The counters are atomic 64-bit
// values, so heap traffic may come from any thread.
//
// Failure: every hook answers null (or false) instead of throwing. HeapAllocator, the allocator for
// standard containers, turns that null into std::bad_alloc as the standard requires; the code that uses
// it catches the exception before it leaves the SDK.

#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

namespace Quarn {

// A snapshot of the memory counters, laid out as the host core reads it: six counters, then two words
// that are always 0.
struct MemoryStats {
  std::uint64_t peakBytesInUse = 0;     // highest value bytesAllocated - bytesFreed has reached
  std::uint64_t allocationsAtPeak = 0;  // live allocations at the moment that peak was reached
  std::uint64_t bytesAllocated = 0;
  std::uint64_t allocationCount = 0;
  std::uint64_t bytesFreed = 0;
  std::uint64_t freeCount = 0;
  std::uint32_t reserved[2] = {0, 0};
};

// Reads the six counters, each with one atomic load.
[[nodiscard]] MemoryStats ReadMemoryStats() noexcept;

// Bytes in use right now: total allocated minus total freed.
[[nodiscard]] std::uint64_t HeapBytesInUse() noexcept;

// Starts a new peak window: the peak becomes the bytes in use now and the live allocations at it the
// allocations live now, so that a later ReadMemoryStats shows the highest use since this call. For
// measurements; the four running totals are untouched.
void RestartMemoryPeak() noexcept;

// Allocates size bytes (at least one) with the alignment of malloc. Null when the heap refuses.
[[nodiscard]] void* HeapAllocate(std::size_t size) noexcept;

// The same for blocks of about one size that come and go often, a tree's context above all:
// HeapFreeKept keeps one on its thread (of two, the larger), counted as released, and HeapAllocateKept
// hands it out again, counted as allocated, for a request it holds with no more than half of it
// unused, so that neither meets the system allocator. A block from one is released with the other.
[[nodiscard]] void* HeapAllocateKept(std::size_t size) noexcept;
void HeapFreeKept(void* pointer) noexcept;

// A block from HeapAllocate that its owner keeps between uses, as a thread keeps its output buffer:
// HeapKeep counts it as released while kept, as the heap's own kept blocks are, and HeapReclaim counts it
// allocated again (false when the test switch fails it; it then stays kept). HeapDiscardKept frees a
// kept block, counting nothing more. Null does nothing.
void HeapKeep(void* pointer) noexcept;
[[nodiscard]] bool HeapReclaim(void* pointer) noexcept;
void HeapDiscardKept(void* pointer) noexcept;

// Resizes a block from HeapAllocate, counted as one release of the old block and one allocation of the
// new. A null pointer allocates. Null when the heap refuses; the old block is then untouched and uncounted.
[[nodiscard]] void* HeapReallocate(void* pointer, std::size_t size) noexcept;

// Releases a block from HeapAllocate, HeapReallocate or HeapDuplicateText. Null does nothing. A small
// block (up to about 1 KiB) may stay on its thread, counted as released, for the next allocation of
// its size there; a thread keeps at most 256 KiB so, and gives them back when it ends.
void HeapFree(void* pointer) noexcept;

// A zero-terminated copy of the text on the module heap, released with HeapFree. Null when the heap
// refuses.
[[nodiscard]] char* HeapDuplicateText(std::string_view text) noexcept;

// Maps size bytes (a multiple of 4096) of read-write memory, 4096-aligned and populated up front,
// counted as one allocation of size bytes. Null when the operating system refuses.
[[nodiscard]] void* HeapMapPages(std::size_t size) noexcept;

// Unmaps memory from HeapMapPages, counted as one release of size bytes.
void HeapUnmapPages(void* pointer, std::size_t size) noexcept;

// Unmaps count adjacent mappings of size bytes each, the first at pointer, with one call to the
// operating system; counted as count releases of size bytes.
void HeapUnmapAdjacentPages(void* pointer, std::size_t size, std::size_t count) noexcept;

// Gives the memory of size bytes from HeapMapPages back to the operating system but keeps the address
// range mapped, so that HeapRecommitPages can serve a later allocation without a new mapping; counted
// as one release of size bytes. The range reads as zeros afterwards and holds no memory until written.
// False, nothing counted, when the operating system refuses; the range is then still in use.
[[nodiscard]] bool HeapDecommitPages(void* pointer, std::size_t size) noexcept;

// Takes a range from HeapDecommitPages into use again, counted as one allocation of size bytes. False
// (nothing counted) only when the test switch below fails it.
[[nodiscard]] bool HeapRecommitPages(void* pointer, std::size_t size) noexcept;

// How many allocations the hooks above have refused since the process started, the test switch's
// included: a caller that sees it change knows that what it built meanwhile may be incomplete.
[[nodiscard]] std::uint64_t RefusedHeapAllocations() noexcept;

// Test switch: the allocation that is the nth from now (1 = the next one) through any hook above
// fails; the ones after it succeed again. 0 disarms the switch. Returns how many allocations the
// previous setting still had to go, 0 when it had fired or was disarmed.
std::uint64_t FailNthHeapAllocation(std::uint64_t nth) noexcept;

// Test switch, the lasting form: the allocation that is the nth from now and every one after it fail,
// until the switch is disarmed (0 here or in FailNthHeapAllocation). Returns how many allocations the
// previous setting still had to go, 0 when it had fired or was disarmed.
std::uint64_t FailHeapAllocationsFrom(std::uint64_t nth) noexcept;

// A standard allocator over the hooks, for containers whose memory belongs to the module heap.
// Stateless: all instances compare equal.
template <class T>
struct HeapAllocator {
  using value_type = T;

  HeapAllocator() noexcept = default;
  template <class U>
  HeapAllocator(const HeapAllocator<U>&) noexcept {}

  [[nodiscard]] T* allocate(std::size_t count) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "the hooks align like malloc");
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    void* block = HeapAllocate(count * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* pointer, std::size_t) noexcept { HeapFree(pointer); }

  template <class U>
  friend bool operator==(const HeapAllocator&, const HeapAllocator<U>&) noexcept {
    return true;
  }
};

// A standard string whose buffer lives on the module heap.
using HeapString = std::basic_string<char, std::char_traits<char>, HeapAllocator<char>>;

}  // namespace Quarn
