// Names of endpoint functions, derived from their HTTP method and path template.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Quarn {

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT" for codes 1 to 7; the empty text otherwise.
[[nodiscard]] std::string_view MethodText(std::uint32_t method);

// The method text with its first letter kept and the rest in lower case, then the template in upper
// camel case: "!", "+", "-", ".", "/" and "_" are dropped and start a new word, "{" writes "By" and
// starts one, "}" is dropped. Examples: (POST, "/gox-loadouts/v2/items/{id}/{inventoryType}") gives
// "PostGoxLoadoutsV2ItemsByIdByInventoryType"; (DELETE, "/a-b/c_d/{id}") "DeleteABCDById"; method 0 with
// "gox-loadouts" gives "GoxLoadouts".
[[nodiscard]] std::string MakeFunctionName(std::uint32_t method, std::string_view pathTemplate);

}  // namespace Quarn
