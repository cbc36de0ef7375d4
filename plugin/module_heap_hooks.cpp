// Routes the module's own operator new and delete through the module heap's hooks, so that the memory
// counters the host core reads cover every heap allocation the module makes, not only the value
// storage. The module exports nothing but its entry, so these definitions bind inside the module only
// and never replace the host's or another module's allocator.
//
// Over-aligned forms are left to the standard library: the hooks align like malloc. A block the
// standard library's own (non-inline) code allocates and the module's code frees, or the other way
// round, is still valid to free either way, since both sides sit on malloc.

#include <cstddef>
#include <new>

#include "sdk/binding/module_heap.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
  void* block = Quarn::HeapAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Quarn::HeapAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Quarn::HeapAllocate(size);
}

void operator delete(void* block) noexcept {
  Quarn::HeapFree(block);
}
void operator delete[](void* block) noexcept {
  Quarn::HeapFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Quarn::HeapFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Quarn::HeapFree(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Quarn::HeapFree(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Quarn::HeapFree(block);
}
