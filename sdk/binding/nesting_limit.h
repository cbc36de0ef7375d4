// The deepest nesting of containers the SDK builds or reads: the decoders' arrays, objects, sequences and
// mappings, and host value trees in both directions.

#pragma once

#include <cstddef>

namespace Quarn {

// Every decoder (JSON, MessagePack, YAML) refuses input nested deeper than this many containers, with a
// message naming the limit and the position. The bound keeps decoding, copying, walking and destroying a
// decoded tree within a small thread stack: values of this depth are built, copied, encoded and destroyed
// on a 256 KiB stack in the tests.
inline constexpr std::size_t kMaxNestingDepth = 512;

}  // namespace Quarn
