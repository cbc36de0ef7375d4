#include "sdk/binding/base64.h"

namespace Quarn {

std::string EncodeBase64(std::span<const std::uint8_t> bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    if (left == 2) group |= std::uint32_t{bytes[i + 1]} << 8;
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

}  // namespace Quarn
