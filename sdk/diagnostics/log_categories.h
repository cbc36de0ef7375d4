// LogCategories: the process-wide table of three-letter category codes behind the bits of a category
// mask. Codes 0 to 7 are fixed ("DBG" "GEN" "XTR" "PRF" "MEM" "DSK" "NET" "TST"); the others are
// registered on first use and keep their bit for the life of the process.

#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarn {

// The mask bits of the fixed categories.
inline constexpr std::uint64_t kCategoryDebug = 1u << 0;    // "DBG"
inline constexpr std::uint64_t kCategoryGeneral = 1u << 1;  // "GEN"
inline constexpr std::uint64_t kCategoryExtra = 1u << 2;    // "XTR"
inline constexpr std::uint64_t kCategoryProfile = 1u << 3;  // "PRF"
inline constexpr std::uint64_t kCategoryMemory = 1u << 4;   // "MEM"
inline constexpr std::uint64_t kCategoryDisk = 1u << 5;     // "DSK"
inline constexpr std::uint64_t kCategoryNetwork = 1u << 6;  // "NET"
inline constexpr std::uint64_t kCategoryTest = 1u << 7;     // "TST"

// The table's number of slots, and so the number of distinct categories a mask can name.
inline constexpr std::size_t kCategorySlotCount = 64;

// The mask bit for the category whose code is the first three characters of `code`; a new code takes the
// next free slot. Answers 0 (no category) for a null code and, once all 64 slots are taken, for every
// further new code. Example: CategoryMask("GEN") == kCategoryGeneral.
[[nodiscard]] std::uint64_t CategoryMask(const char* code);

// Writes the codes of the categories in `mask`, in bit order and separated by ";", into `buffer`
// (NUL-terminated, cut to fit) and returns the length written. An empty mask gives "". Bits whose slot has
// no code read "???". REQUIRES: `size` > 0.
std::size_t FormatCategoryNames(std::uint64_t mask, char* buffer, std::size_t size);

}  // namespace Quarn
