#include "sdk/binding/type_identifier.h"

#include <cstdio>

namespace Quarn {

TypeIdentifier MakeTypeIdentifier(std::uint32_t id, NativeKind kind, char (&buffer)[kTypeIdDisplayNameSize]) {
  if (kind != NativeKind::Struct && kind != NativeKind::Enum) return {id, NativeKindName(kind)};
  const int written = std::snprintf(buffer, sizeof buffer, "#%08X", static_cast<unsigned>(id));
  return {id, std::string_view(buffer, static_cast<std::size_t>(written))};
}

}  // namespace Quarn
