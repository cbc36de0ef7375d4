#include "sdk/binding/native_kind.h"

#include <array>

namespace Quarn {

std::string_view NativeKindName(NativeKind kind) {
  // Indexed by kind code; entry 0 is the empty text of None.
  static constexpr std::array<std::string_view, 20> kNames = {
      "",      "bool",   "int8",   "uint8",  "int16", "uint16", "int32", "uint32", "int64",    "uint64",
      "float", "double", "string", "object", "blob",  "vector", "enum",  "struct", "callback", "map",
  };
  const auto code = static_cast<std::uint32_t>(kind);
  return code < kNames.size() ? kNames[code] : std::string_view{};
}

}  // namespace Quarn
