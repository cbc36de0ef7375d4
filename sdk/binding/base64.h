// Standard Base64 (RFC 4648 alphabet with "+" and "/", padded with "="), the text form of blobs.

#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Quarn {

// The Base64 text of the bytes. Example: {'f', 'o'} gives "Zm8=".
[[nodiscard]] std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace Quarn
