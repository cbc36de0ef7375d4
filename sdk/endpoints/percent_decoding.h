// Percent-decoding of the texts a call carries in its path and query.

#pragma once

#include <string>
#include <string_view>

namespace Quarn {

// Decodes text: "+" becomes a space; "%" followed by two hexadecimal digits (0-9, a-f, A-F) becomes the
// byte they spell; a "%" with fewer than two characters after it is dropped; a "%" followed by two
// characters that are not both hexadecimal digits is copied with them as it stands ("%+1" stays "%+1");
// every other character is copied. Never reads past the end of text.
// Example: "a%2Fb+c" gives "a/b c"; "%zz%4" gives "%zz4".
[[nodiscard]] std::string PercentDecode(std::string_view text);

}  // namespace Quarn
