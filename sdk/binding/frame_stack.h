// FrameStack: the explicit stack of the SDK's iterative walks, copies and decoders, so that no depth of
// nesting recurses on the C++ stack.

#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "sdk/binding/module_heap.h"

namespace Quarn {

// A stack whose first Inline frames live inside the object (on the C++ stack when it is a local), more
// on the module heap. Frames must be trivially copyable; Top() is valid until the next Push.
template <class Frame, std::size_t Inline>
class FrameStack {
  static_assert(std::is_trivially_copyable_v<Frame>);

 public:
  FrameStack() = default;
  FrameStack(const FrameStack&) = delete;
  FrameStack& operator=(const FrameStack&) = delete;
  ~FrameStack() {
    if (frames_ != inline_) HeapFree(frames_);
  }
  [[nodiscard]] bool Empty() const noexcept { return size_ == 0; }
  [[nodiscard]] std::size_t Size() const noexcept { return size_; }
  Frame& Top() noexcept { return frames_[size_ - 1]; }
  void Pop() noexcept { --size_; }
  // False when the stack cannot grow; it is then unchanged.
  [[nodiscard]] bool Push(const Frame& frame) noexcept {
    if (size_ == capacity_) {
      const std::size_t capacity = capacity_ * 2;
      void* grown = HeapReallocate(frames_ == inline_ ? nullptr : frames_, capacity * sizeof(Frame));
      if (grown == nullptr) return false;
      if (frames_ == inline_) std::memcpy(grown, inline_, sizeof inline_);
      frames_ = static_cast<Frame*>(grown);
      capacity_ = capacity;
    }
    frames_[size_++] = frame;
    return true;
  }

 private:
  Frame inline_[Inline];
  Frame* frames_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = Inline;
};

}  // namespace Quarn
