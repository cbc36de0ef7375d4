#include "sdk/binding/field_index.h"

#include <cstring>

#include "sdk/binding/module_heap.h"

namespace Quarn {
namespace {

// A leaf holds up to 126 numbers and their keys (about 2.5 KiB), a branch up to 32 children.
constexpr std::uint16_t kLeafCapacity = 126;
constexpr std::uint16_t kBranchCapacity = 32;

}  // namespace

struct FieldIndex::Node {
  std::uint16_t count;
  bool leaf;
};

// keys[i] is the key of numbers[i]'s name.
struct FieldIndex::Leaf : Node {
  std::uint32_t numbers[kLeafCapacity];
  NameKey keys[kLeafCapacity];

  void MoveTail(Leaf& right, std::uint16_t from) const noexcept {
    std::memcpy(right.numbers, numbers + from, right.count * sizeof(std::uint32_t));
    std::memcpy(right.keys, keys + from, right.count * sizeof(NameKey));
  }
};

// Child i holds sizes[i] numbers, the first of which is firsts[i], whose name's key is firstKeys[i].
struct FieldIndex::Branch : Node {
  Node* children[kBranchCapacity];
  std::uint32_t sizes[kBranchCapacity];
  std::uint32_t firsts[kBranchCapacity];
  NameKey firstKeys[kBranchCapacity];

  void MoveTail(Branch& right, std::uint16_t from) const noexcept {
    std::memcpy(right.children, children + from, right.count * sizeof(Node*));
    std::memcpy(right.sizes, sizes + from, right.count * sizeof(std::uint32_t));
    std::memcpy(right.firsts, firsts + from, right.count * sizeof(std::uint32_t));
    std::memcpy(right.firstKeys, firstKeys + from, right.count * sizeof(NameKey));
  }
};

namespace {

template <class T>
void OpenGap(T* items, std::size_t count, std::size_t at) noexcept {
  std::memmove(items + at + 1, items + at, (count - at) * sizeof(T));
}

}  // namespace

std::size_t FieldIndex::Size() const noexcept {
  if (root_ == nullptr) return 0;
  if (root_->leaf) return root_->count;
  const auto* root = static_cast<const Branch*>(root_);
  std::size_t size = 0;
  for (std::uint16_t i = 0; i < root->count; ++i)
    size += root->sizes[i];
  return size;
}

void FieldIndex::Find(const FieldEntry* entries, std::string_view name, Place& place) const noexcept {
  place.rank = 0;
  place.found = false;
  place.key = Key(name);
  if (root_ == nullptr) return;
  const NameKey key = place.key;
  // The order of an entry's name against the name; its name is read only when the keys are equal.
  const auto order = [entries, name, key](std::uint32_t number, const NameKey& itsKey) {
    if (itsKey != key) return itsKey < key ? -1 : 1;
    return CompareNames(entries[number].name->View(), name);
  };
  Node* node = root_;
  for (std::uint32_t level = 0; level + 1 < height_; ++level) {
    auto* branch = static_cast<Branch*>(node);
    // The last child whose first name is not above the name; the first child when all are.
    std::uint16_t low = 1;
    std::uint16_t high = branch->count;
    while (low < high) {
      const auto middle = static_cast<std::uint16_t>((low + high) / 2);
      if (order(branch->firsts[middle], branch->firstKeys[middle]) <= 0)
        low = static_cast<std::uint16_t>(middle + 1);
      else
        high = middle;
    }
    const auto child = static_cast<std::uint16_t>(low - 1);
    for (std::uint16_t i = 0; i < child; ++i)
      place.rank += branch->sizes[i];
    place.nodes[level] = branch;
    place.slots[level] = child;
    node = branch->children[child];
  }
  auto* leaf = static_cast<Leaf*>(node);
  std::uint16_t low = 0;
  std::uint16_t high = leaf->count;
  while (low < high) {
    const auto middle = static_cast<std::uint16_t>((low + high) / 2);
    const int found = order(leaf->numbers[middle], leaf->keys[middle]);
    if (found == 0) {
      low = middle;
      place.found = true;
      place.number = leaf->numbers[middle];
      break;
    }
    if (found < 0)
      low = static_cast<std::uint16_t>(middle + 1);
    else
      high = middle;
  }
  place.nodes[height_ - 1] = leaf;
  place.slots[height_ - 1] = low;
  place.rank += low;
}

bool FieldIndex::Append(std::uint32_t number, std::string_view name) noexcept {
  Place place;
  place.key = Key(name);
  Node* node = root_;
  for (std::uint32_t level = 0; node != nullptr && level < height_; ++level) {
    place.nodes[level] = node;
    place.slots[level] = static_cast<std::uint16_t>(node->leaf ? node->count : node->count - 1);
    if (!node->leaf) node = static_cast<Branch*>(node)->children[node->count - 1];
  }
  return Insert(place, number);
}

bool FieldIndex::Insert(const Place& place, std::uint32_t number) noexcept {
  if (root_ == nullptr) {
    auto* leaf = static_cast<Leaf*>(HeapAllocate(sizeof(Leaf)));
    if (leaf == nullptr) return false;
    leaf->count = 1;
    leaf->leaf = true;
    leaf->numbers[0] = number;
    leaf->keys[0] = place.key;
    root_ = leaf;
    height_ = 1;
    return true;
  }
  // Every full node from the leaf up splits, and a new root comes when the old one does: all of those
  // nodes are had before anything changes, so a refusal leaves the index as it was.
  Node* spare[kMaxHeight + 1];
  std::size_t needed = 0;
  for (std::uint32_t level = height_; level-- > 0;) {
    const Node* node = place.nodes[level];
    if (node->count < (node->leaf ? kLeafCapacity : kBranchCapacity)) break;
    ++needed;
    if (level == 0) ++needed;
  }
  for (std::size_t i = 0; i < needed; ++i) {
    spare[i] = static_cast<Node*>(HeapAllocate(i == 0 ? sizeof(Leaf) : sizeof(Branch)));
    if (spare[i] == nullptr) {
      while (i-- > 0)
        HeapFree(spare[i]);
      return false;
    }
  }
  std::size_t used = 0;
  const auto sizeOf = [](const Node* node) {
    if (node->leaf) return std::uint32_t{node->count};
    const auto* branch = static_cast<const Branch*>(node);
    std::uint32_t size = 0;
    for (std::uint16_t i = 0; i < branch->count; ++i)
      size += branch->sizes[i];
    return size;
  };
  const auto firstOf = [](const Node* node) {
    return node->leaf ? static_cast<const Leaf*>(node)->numbers[0]
                      : static_cast<const Branch*>(node)->firsts[0];
  };
  const auto firstKeyOf = [](const Node* node) {
    return node->leaf ? static_cast<const Leaf*>(node)->keys[0]
                      : static_cast<const Branch*>(node)->firstKeys[0];
  };
  const auto addChild = [&](Branch* branch, std::uint16_t at, Node* child) {
    OpenGap(branch->children, branch->count, at);
    OpenGap(branch->sizes, branch->count, at);
    OpenGap(branch->firsts, branch->count, at);
    OpenGap(branch->firstKeys, branch->count, at);
    branch->children[at] = child;
    branch->sizes[at] = sizeOf(child);
    branch->firsts[at] = firstOf(child);
    branch->firstKeys[at] = firstKeyOf(child);
    ++branch->count;
  };
  // Moves the upper half of a full node to right; answers the half that position at then falls in,
  // with at made relative to it.
  const auto split = [](auto* node, auto* right, std::uint16_t& at) {
    const auto half = static_cast<std::uint16_t>(node->count / 2);
    right->leaf = node->leaf;
    right->count = static_cast<std::uint16_t>(node->count - half);
    node->MoveTail(*right, half);
    node->count = half;
    if (at <= half) return node;
    at = static_cast<std::uint16_t>(at - half);
    return right;
  };

  // The leaf takes the number, splitting in two halves when full; the new right half is carried up.
  auto* leaf = static_cast<Leaf*>(place.nodes[height_ - 1]);
  std::uint16_t at = place.slots[height_ - 1];
  Node* carried = nullptr;
  if (leaf->count == kLeafCapacity) {
    auto* right = static_cast<Leaf*>(spare[used++]);
    leaf = split(leaf, right, at);
    carried = right;
  }
  OpenGap(leaf->numbers, leaf->count, at);
  OpenGap(leaf->keys, leaf->count, at);
  leaf->numbers[at] = number;
  leaf->keys[at] = place.key;
  ++leaf->count;

  for (std::uint32_t level = height_ - 1; level-- > 0;) {
    auto* branch = static_cast<Branch*>(place.nodes[level]);
    const std::uint16_t slot = place.slots[level];
    Node* child = branch->children[slot];
    branch->firsts[slot] = firstOf(child);
    branch->firstKeys[slot] = firstKeyOf(child);
    if (carried == nullptr) {
      ++branch->sizes[slot];
      continue;
    }
    branch->sizes[slot] = sizeOf(child);
    auto into = static_cast<std::uint16_t>(slot + 1);
    Branch* target = branch;
    Node* raised = nullptr;
    if (branch->count == kBranchCapacity) {
      auto* right = static_cast<Branch*>(spare[used++]);
      target = split(branch, right, into);
      raised = right;
    }
    addChild(target, into, carried);
    carried = raised;
  }
  if (carried != nullptr) {
    auto* root = static_cast<Branch*>(spare[used++]);
    root->leaf = false;
    root->count = 0;
    addChild(root, 0, root_);
    addChild(root, 1, carried);
    root_ = root;
    ++height_;
  }
  return true;
}

std::uint32_t FieldIndex::At(std::size_t rank) const noexcept {
  const Node* node = root_;
  while (!node->leaf) {
    const auto* branch = static_cast<const Branch*>(node);
    std::uint16_t child = 0;
    while (rank >= branch->sizes[child])
      rank -= branch->sizes[child++];
    node = branch->children[child];
  }
  return static_cast<const Leaf*>(node)->numbers[rank];
}

std::uint32_t FieldIndex::Last() const noexcept {
  const Node* node = root_;
  while (!node->leaf)
    node = static_cast<const Branch*>(node)->children[node->count - 1];
  return static_cast<const Leaf*>(node)->numbers[node->count - 1];
}

void FieldIndex::Clear() noexcept {
  // The height is bounded, so a walk with one position per level needs no allocation.
  if (root_ == nullptr) return;
  Node* path[kMaxHeight];
  std::uint16_t next[kMaxHeight];
  std::uint32_t depth = 0;
  path[0] = root_;
  next[0] = 0;
  for (;;) {
    Node* node = path[depth];
    if (!node->leaf && next[depth] < node->count) {
      Node* child = static_cast<Branch*>(node)->children[next[depth]++];
      path[++depth] = child;
      next[depth] = 0;
      continue;
    }
    HeapFree(node);
    if (depth == 0) break;
    --depth;
  }
  root_ = nullptr;
  height_ = 0;
}

}  // namespace Quarn
