#include "sdk/diagnostics/log_categories.h"

#include <atomic>
#include <cstring>

namespace Quarn {
namespace {

constexpr std::size_t kCodeLength = 3;
constexpr char kSeparator = ';';

// Slots 0 to `lastUsed` hold codes. The last slot is claimed atomically; the slot's text is written after
// the claim without a lock, so two threads registering the same new code at once may take two slots.
struct CategoryTable {
  char codes[kCategorySlotCount][kCodeLength + 1] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
  std::atomic<std::size_t> lastUsed{7};

  CategoryTable() {
    for (std::size_t slot = 8; slot < kCategorySlotCount; ++slot)
      std::memcpy(codes[slot], "???", kCodeLength + 1);
  }
};

CategoryTable& TheCategoryTable() {
  static CategoryTable table;
  return table;
}

}  // namespace

std::uint64_t CategoryMask(const char* code) {
  if (code == nullptr) return 0;
  CategoryTable& table = TheCategoryTable();
  std::size_t last = table.lastUsed.load();
  for (std::size_t slot = 0; slot <= last; ++slot) {
    if (std::strncmp(table.codes[slot], code, kCodeLength) == 0) return std::uint64_t{1} << slot;
  }
  // A full table refuses new codes rather than writing past its end.
  do {
    if (last + 1 >= kCategorySlotCount) return 0;
  } while (!table.lastUsed.compare_exchange_weak(last, last + 1));
  const std::size_t slot = last + 1;
  std::strncpy(table.codes[slot], code, kCodeLength);
  table.codes[slot][kCodeLength] = '\0';
  return std::uint64_t{1} << slot;
}

std::size_t FormatCategoryNames(std::uint64_t mask, char* buffer, std::size_t size) {
  // No room even for the terminating NUL: nothing is written.
  if (buffer == nullptr || size == 0) return 0;
  const CategoryTable& table = TheCategoryTable();
  std::size_t length = 0;
  for (std::size_t slot = 0; slot < kCategorySlotCount; ++slot) {
    if ((mask & (std::uint64_t{1} << slot)) == 0) continue;
    if (length > 0 && length + 1 < size) buffer[length++] = kSeparator;
    for (const char* c = table.codes[slot]; *c != '\0' && length + 1 < size; ++c)
      buffer[length++] = *c;
  }
  buffer[length] = '\0';
  return length;
}

}  // namespace Quarn
