// JSON encoding of BindingProperty values.

#pragma once

#include <string>
#include <string_view>

#include "sdk/binding/binding_property.h"

namespace Quarn {

class TypeRegistry;

// The JSON text of value. An empty root gives the empty text; an empty value inside a container is null.
// Floats take RapidJSON's shortest round-trip form ("3.0", "0.1", "1e300"); a NaN or infinite float,
// which JSON cannot hold, is written as null. Blobs become Base64 strings; an enum is written by name
// when registry knows one for its value, else as its signed number. Structures list their fields in name
// order.
//
// An empty lineSeparator gives compact output. Any other text gives pretty output (four-space indents,
// ": " after member names) whose line breaks are that text. Example: {"a":[1,2]} with "\r\n" gives
// "{\r\n    \"a\": [\r\n        1,\r\n        2\r\n    ]\r\n}".
//
// Nothing is returned but the empty text when the walk of a tree deeper than 520 levels is refused memory.
[[nodiscard]] std::string EncodeJson(const BindingProperty& value, const TypeRegistry* registry = nullptr,
                                     std::string_view lineSeparator = {});

}  // namespace Quarn
