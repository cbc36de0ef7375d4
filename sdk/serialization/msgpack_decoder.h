// MessagePack decoding: one MessagePack value from a byte buffer into a BindingProperty tree.
//
// Formats map to kinds as follows: positive and negative fixints and int 8/16/32/64 become "signed",
// uint 8/16/32/64 "unsigned" (whatever the magnitude, so 0x05 is signed 5 and 0xcc 0x05 unsigned 5),
// float 32/64 "float", str formats "string" (raw bytes, no UTF-8 check), bin formats "blob", arrays
// "collection", maps "structure"; nil leaves its slot empty. Ext, fixext and 0xc1 are invalid. Map keys
// must be strings. A key that occurs twice keeps one field: a second map merges into the first, a second
// array overwrites elements from index 0, a second nil leaves the first value.
//
// The decoder is iterative, so input nesting cannot exhaust the stack; it refuses nesting deeper than
// kMaxNestingDepth containers. Declared counts and lengths are trusted only as far as the remaining
// input can hold them, so memory stays proportional to the input's size.

#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/binding/conversion_result.h"

namespace Quarn {

// Decodes one value from the size bytes at data into result, which it initialises first. On return
// result.Ok() tells whether decoding succeeded; on success result.Value() holds the tree, on failure the
// message of the first fault. consumed is the offset reached: the end of the value on success (bytes
// after it are not read, so the caller can tell whether any were left over), the offset of the fault
// otherwise. Offsets are size_t, so inputs of any size are addressed without wrapping.
//
// Failures: an invalid type byte or a non-string key (at the offset after the type byte); a number,
// length, string or byte run cut off by the end of the input; an array or map whose declared items the
// input cannot hold or that is still open when the input ends; nesting deeper than kMaxNestingDepth; a
// tree the module heap cannot hold. Empty input is no failure: it leaves an empty value, consumed 0.
//
// Example: the bytes 0x81 0xa1 0x61 0x01 give the structure {"a": signed 1} with consumed 4.
void DecodeMessagePack(ConversionResult& result, std::size_t& consumed, const std::uint8_t* data,
                       std::size_t size);

}  // namespace Quarn
