#include "sdk/endpoints/percent_decoding.h"

namespace Quarn {
namespace {

// The value of a hexadecimal digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  bool plain = true;
  for (const char c : text)
    plain &= c != '%' && c != '+';
  if (plain) return std::string(text);
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c != '%') {
      decoded += c;
    } else if (text.size() - i > 2) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0)
        decoded.append(text.substr(i, 3));  // not an escape: copied as it stands
      else
        decoded += static_cast<char>((high << 4) | low);
      i += 2;
    }
    // A "%" with fewer than two characters after it is dropped.
  }
  return decoded;
}

}  // namespace Quarn
