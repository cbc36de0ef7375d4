// JSON decoding into BindingProperty values.

#pragma once

#include <cstddef>
#include <string>

#include "sdk/binding/conversion_result.h"

namespace Quarn {

// The value that one JSON text holds, or a failure. The text ends at its first NUL byte. null gives an
// empty value (as a member: an empty field; as an element: an empty element); an integer gives signed
// when written with a minus and unsigned otherwise, a float when it does not fit 64 bits; a number with
// a fraction or an exponent gives a float; a string gives the text up to its first NUL character; arrays
// give collections and objects structures. A member name repeated in one object addresses the same
// field: a later scalar replaces it, a later object merges into it, a later array appends to it, a later
// null leaves it alone.
//
// A failure's message is "Error: <reason> at offset <byte offset>.", where the reason is RapidJSON's text
// for the parse error (e.g. "Error: Invalid value. at offset 3." for "[1,]"). Arrays and objects nested
// deeper than kMaxNestingDepth fail with "Error: Nesting deeper than 512 levels at offset N.", N being
// the offset of the first bracket too deep.
[[nodiscard]] ConversionResult DecodeJson(const char* text);
[[nodiscard]] ConversionResult DecodeJson(const std::string& text);
// The text is the first length bytes at text, or fewer when a NUL byte comes first; it needs no
// terminating NUL.
[[nodiscard]] ConversionResult DecodeJson(const char* text, std::size_t length);

}  // namespace Quarn
