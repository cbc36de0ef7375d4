// FieldIndex: the name order of a large structure's fields.
//
// A small structure keeps its entries sorted by name in one array, so that adding a field moves the
// entries behind it. Past a few dozen fields that move makes filling a structure quadratic, so a large
// structure keeps its entries in the order they were added and this index lists their numbers by
// ascending name: a B+ tree whose branches know the number of entries below each child, so that
// finding a name, adding a number and reading the number at a rank all take logarithmic time. Next to
// each number the tree keeps the first sixteen bytes of its name, so that a search compares names that
// differ there without reaching for the entry and its record, two cache misses each in a wide structure.

#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/string_table.h"

namespace Quarn {

// The order of field names: byte-wise as unsigned bytes, a proper prefix first. Names mostly differ
// within their first bytes, where a plain loop answers sooner than a call to memcmp.
[[nodiscard]] inline int CompareNames(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// One field of a structure: its interned name and its value.
struct FieldEntry {
  StringRecord* name;
  BindingProperty value;
};

// Entry numbers in name order. Trivially copyable, so that it moves with the array it sits behind; the
// owner frees its nodes with Clear. Nodes live on the module heap. Not synchronised.
class FieldIndex {
  struct Node;

 public:
  struct NameKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    friend auto operator<=>(const NameKey&, const NameKey&) = default;
  };

  // Enough levels for 2^32 entries with every node but the root at least half full.
  static constexpr std::size_t kMaxHeight = 10;

  // Where a name is, or belongs: the path from the root to a leaf and the position in each node. It
  // stays valid until the index changes.
  struct Place {
    Node* nodes[kMaxHeight];
    std::uint16_t slots[kMaxHeight];
    std::size_t rank = 0;
    NameKey key;               // the name's, as Key gives it
    std::uint32_t number = 0;  // the entry of that name, when found
    bool found = false;
  };

  // The first sixteen bytes of a name, zero-padded, the first one highest: two names whose keys differ
  // are in the order of their keys.
  [[nodiscard]] static NameKey Key(std::string_view name) noexcept {
    NameKey key;
    for (std::size_t i = 0; i < 8; ++i)
      key.high = key.high << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
    for (std::size_t i = 8; i < 16; ++i)
      key.low = key.low << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
    return key;
  }

  // Entries the index holds.
  [[nodiscard]] std::size_t Size() const noexcept;

  // Looks the name up among entries, which the index's numbers refer to.
  void Find(const FieldEntry* entries, std::string_view name, Place& place) const noexcept;

  // Adds number, the entry of the name Find looked up, at the place that Find without match gave.
  // False, the index unchanged, when a node cannot be allocated.
  [[nodiscard]] bool Insert(const Place& place, std::uint32_t number) noexcept;

  // Adds number, the entry of name, after every other; for entries that arrive in name order.
  [[nodiscard]] bool Append(std::uint32_t number, std::string_view name) noexcept;

  // The number at rank (below Size()).
  [[nodiscard]] std::uint32_t At(std::size_t rank) const noexcept;

  // The number at the highest rank. REQUIRES: the index is not empty.
  [[nodiscard]] std::uint32_t Last() const noexcept;

  // Frees every node; the index is empty afterwards.
  void Clear() noexcept;

 private:
  struct Leaf;
  struct Branch;

  Node* root_ = nullptr;
  std::uint32_t height_ = 0;  // 0 when empty, 1 when the root is a leaf
};

}  // namespace Quarn
