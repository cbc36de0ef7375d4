// One value, three encodings: checks that the JSON text, the YAML text and the MessagePack bytes of a
// value all decode to that value, so that a decoding case is written once for every format.

#pragma once

#include <string_view>

#include "sdk/binding/binding_property.h"

namespace Quarn::test {

// Decodes json (which must be valid), then expects DecodeJson of its canonical JSON text, DecodeYaml of
// the same text (JSON is flow-style YAML) and DecodeMessagePack of its MessagePack bytes each to give a
// tree equal to it. The value must read the same in all three: no integral floats (YAML reads 3.0 as the
// integer 3) and no texts that YAML types differently once unquoted (every JSON text is quoted, so only
// keys and strings as JSON writes them appear).
void ExpectSameInAllFormats(std::string_view json);

}  // namespace Quarn::test
