// TreeAssembler: builds a value tree from a decoder's events, gathering each structure's fields before
// the structure exists.
//
// A structure keeps its fields in name order, so adding the fields of a document's object one at a time
// searches and moves entries for each. The assembler instead keeps the fields of every open structure
// on a stack of its own, and when the structure closes it sorts them once and hands them over in one
// array of exactly their count. Collections take their elements as they come. Everything is built in
// the root's storage; nothing is copied.
//
// A structure whose fields repeat a name is not assembled: the decoder's rules for repeated names
// (containers of one kind add to each other, the later value wins otherwise) are the slow builder's.
// The assembler then stops (Repeated()) and the decoder builds the document again the old way.
//
//   TreeAssembler assembler(root);
//   assembler.Slot().SetSigned(1);               // a scalar at the top, in a collection or a field
//   assembler.Open(BindingKind::Structure);      // an object: its fields follow
//   assembler.Key("name");                        // the next slot is that field
//   assembler.Close();                            // false: stop (Repeated() or out of memory)

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sdk/binding/binding_property.h"
#include "sdk/binding/field_index.h"
#include "sdk/binding/nesting_limit.h"

namespace Quarn {

class TreeAssembler {
 public:
  // REQUIRES: root is an empty root that outlives the assembler.
  explicit TreeAssembler(BindingProperty& root) noexcept;
  TreeAssembler(const TreeAssembler&) = delete;
  TreeAssembler& operator=(const TreeAssembler&) = delete;
  // Releases what was gathered and not handed over (a decoder stopped midway).
  ~TreeAssembler();

  // The value the next scalar goes into: the root, a new element of the open collection, or the field
  // the last Key named. It stays valid until the next call. When memory fails, a scratch value.
  BindingProperty& Slot() noexcept;
  // The name of the next value in the open structure.
  void Key(std::string_view name) noexcept;
  // Opens a collection or a structure in the next slot. False past the nesting limit.
  [[nodiscard]] bool Open(BindingKind kind) noexcept;
  // Closes the innermost container. False when a structure repeats a name (Repeated()) or its fields
  // cannot be stored (the tree is marked failed).
  [[nodiscard]] bool Close() noexcept;

  [[nodiscard]] bool Repeated() const noexcept { return repeated_; }
  [[nodiscard]] std::size_t Depth() const noexcept { return depth_; }

 private:
  struct Frame {
    BindingProperty* direct;  // the container, when it is not a gathered field
    std::size_t slot;         // else the gathered field that holds it
    std::size_t start;        // a structure: its first gathered field
    bool structure;
  };

  [[nodiscard]] bool InlineFields() const noexcept {
    return static_cast<const void*>(fields_) == static_cast<const void*>(inlineFields_);
  }
  BindingProperty& Container(const Frame& frame) noexcept {
    return frame.direct != nullptr ? *frame.direct : fields_[frame.slot].value;
  }
  // A new gathered field named by the last Key; null when the stack cannot grow.
  FieldEntry* Gather() noexcept;
  bool CloseStructure(const Frame& frame) noexcept;
  void Release(std::size_t from) noexcept;

  // The gathered fields: the first few inline, so that a small document's one object allocates nothing
  // to gather its fields; past them on the module heap. Entries move as plain bytes.
  static constexpr std::size_t kInlineFields = 32;

  BindingProperty& root_;
  PropertyContext* context_;
  FieldEntry* fields_;
  std::size_t count_ = 0;
  std::size_t capacity_ = kInlineFields;
  StringRecord* key_ = nullptr;  // counted once, for the field it will name
  bool repeated_ = false;
  BindingProperty scratch_;  // in the refusing context: what a slot is when memory fails
  std::size_t depth_ = 0;
  // The open containers: the first few inline, all of them on the module heap once deeper, so that a
  // decoder's stack stays small (the reader recurses once per level on it).
  static constexpr std::size_t kInlineFrames = 32;
  Frame* frames_ = inlineFrames_;
  Frame inlineFrames_[kInlineFrames];
  alignas(FieldEntry) unsigned char inlineFields_[kInlineFields * sizeof(FieldEntry)];
};

}  // namespace Quarn
