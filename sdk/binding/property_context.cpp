#include "sdk/binding/property_context.h"

#include <algorithm>
#include <new>

#include "sdk/binding/module_heap.h"

namespace Quarn {

namespace {

// The area follows the context, aligned to 8.
constexpr std::size_t kAreaOffset = (sizeof(PropertyContext) + 7) / 8 * 8;

}  // namespace

PropertyContext* PropertyContext::Create(std::size_t expectedBytes) noexcept {
  // Areas come in whole units, so that contexts of nearly the same size reuse each other's block.
  const std::size_t areaSize = std::min(
      (expectedBytes + Slab::kAreaUnit - 1) / Slab::kAreaUnit * Slab::kAreaUnit, Slab::kMaxAreaBytes);
  void* memory = HeapAllocateKept(kAreaOffset + areaSize);
  if (memory == nullptr) return Refusing();
  return ::new (memory) PropertyContext(static_cast<unsigned char*>(memory) + kAreaOffset, areaSize, false);
}

void PropertyContext::Destroy(PropertyContext* context) noexcept {
  if (context == nullptr || context->refusing_) return;
  context->~PropertyContext();
  HeapFreeKept(context);
}

PropertyContext* PropertyContext::Refusing() noexcept {
  static PropertyContext refusing(nullptr, 0, true);
  return &refusing;
}

void* PropertyContext::Allocate(std::size_t size) noexcept {
  void* slot = refusing_ ? nullptr : slab_.Allocate(size);
  if (slot == nullptr) MarkFailed();
  return slot;
}

StringRecord* PropertyContext::Intern(std::string_view text) noexcept {
  if (text.empty()) return StringTable::Empty();
  StringRecord* record = refusing_ ? nullptr : strings_.Intern(text);
  if (record == nullptr) MarkFailed();
  return record;
}

StringRecord* PropertyContext::Intern(const StringRecord& record) noexcept {
  if (&record == StringTable::Empty()) return StringTable::Empty();
  StringRecord* interned = refusing_ ? nullptr : strings_.Intern(record);
  if (interned == nullptr) MarkFailed();
  return interned;
}

}  // namespace Quarn
