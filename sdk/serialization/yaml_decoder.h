// YAML decoding: one YAML document into a BindingProperty tree. There is no YAML output.
//
// Mapping: a mapping becomes a structure (string scalar keys only), a sequence a collection, a scalar a
// typed leaf. Scalar typing:
// - Tagged "tag:yaml.org,2002:" str, int, float or bool: as the tag says; int and float texts are read as
//   request fields are ("yaml" is the field name in their messages); any other tag is refused.
// - Quoted, untagged: string.
// - Plain, untagged: "", "~", "null", "Null", "NULL" leave the value empty; a finite number that strtod
//   reads completely (classic locale) is unsigned when integral and not negative, signed when integral
//   and negative, float otherwise (integers written out in decimal or 0x-hexadecimal keep every digit;
//   integral numbers beyond the 64-bit ranges become float; texts that read as infinity or NaN stay
//   strings); the YAML 1.1 truth words (true/yes/on/y in three casings, and their opposites) are bool;
//   anything else is a string.
// Anchors and aliases: an alias is a deep copy of the anchored value as it is when the alias is read.
//
// Limits, each refused with a message naming it and the position:
// - nesting deeper than kMaxNestingDepth containers, counted on the input and on every alias copy;
// - values added by alias copies beyond kYamlAliasValuesPerByte per input byte plus
//   kYamlAliasValuesBase, so that a small text cannot expand into an unbounded tree;
// - a second document in the stream; aliases used as mapping keys; cyclic and unknown aliases.
//
// Re-entrant: the parser and every table are local to the call.

#pragma once

#include <cstddef>
#include <string_view>

#include "sdk/binding/conversion_result.h"

namespace Quarn {

// Alias copies may add at most kYamlAliasValuesPerByte * (input bytes) + kYamlAliasValuesBase values
// (scalars and containers each count one) to a document. Anchor-heavy documents stay well inside this
// (ten thousand aliases of a 30-field mapping in 100 KB add 310,000 values of the 865,000 allowed), while
// the memory an input can claim stays a few hundred bytes per input byte.
inline constexpr std::size_t kYamlAliasValuesPerByte = 8;
inline constexpr std::size_t kYamlAliasValuesBase = 65536;

// Decodes the whole text (NUL bytes do not end it), read as UTF-8, into a value. On failure the result
// holds only the message, for example "Undefined alias encountered: \"x\". At line: 1 col: 1".
// Example: DecodeYaml("a: 1\nb: [x, 2.5]\n") gives {a: unsigned 1, b: ["x", float 2.5]}.
[[nodiscard]] ConversionResult DecodeYaml(std::string_view text);

}  // namespace Quarn
