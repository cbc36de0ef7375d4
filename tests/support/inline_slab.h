// InlineSlab: a slab with an area of its own, of the largest size, for tests of the slab and of what
// is built on it.

#pragma once

#include "sdk/binding/slab.h"

namespace Quarn {

class InlineSlab : public Slab {
 public:
  InlineSlab() noexcept : Slab(area_, sizeof area_) {}

 private:
  alignas(8) unsigned char area_[kMaxAreaBytes];
};

}  // namespace Quarn
