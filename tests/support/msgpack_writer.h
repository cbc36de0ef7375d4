// A MessagePack writer for tests: the system only reads MessagePack, but its tests need to produce it
// from values, to compare one value across formats and to round-trip decoded trees.

#pragma once

#include <cstdint>
#include <vector>

#include "sdk/binding/binding_property.h"

namespace Quarn::test {

// The MessagePack bytes of value, each item in the smallest format that holds it: "signed" as a fixint
// or int 8/16/32/64, "unsigned" always as uint 8/16/32/64 (never as a fixint, which reads back as
// signed), "float" as float 32 when that holds the double exactly (NaN and the infinities included), else
// float 64; "string" as fixstr or str 8/16/32, "blob" as bin 8/16/32, "collection" as fixarray or array
// 16/32, "structure" as fixmap or map 16/32 with fields in name order, "empty" as nil. REQUIRES: texts and
// blobs shorter than 4 GiB.
//
// Round trip: DecodeMessagePack gives back a tree SameValue to value, except that an "enum" is written as
// its integer value and reads back as "signed". Bytes from other encoders do not round-trip by kind:
// they usually write non-negative integers as positive fixints or uint formats by magnitude, which read
// back as "signed" and "unsigned" respectively, whatever kind they started as.
[[nodiscard]] std::vector<std::uint8_t> EncodeMessagePack(const BindingProperty& value);

}  // namespace Quarn::test
