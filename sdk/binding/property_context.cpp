#include "sdk/binding/property_context.h"

#include <new>

#include "sdk/binding/module_heap.h"

namespace Quarn {

PropertyContext* PropertyContext::Create() noexcept {
  void* memory = HeapAllocateKept(sizeof(PropertyContext));
  if (memory == nullptr) return Refusing();
  return ::new (memory) PropertyContext(false);
}

void PropertyContext::Destroy(PropertyContext* context) noexcept {
  if (context == nullptr || context->refusing_) return;
  context->~PropertyContext();
  HeapFreeKept(context, sizeof(PropertyContext));
}

PropertyContext* PropertyContext::Refusing() noexcept {
  static PropertyContext refusing(true);
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
