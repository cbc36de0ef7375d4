#include "sdk/binding/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Quarn {
namespace {

TEST(Base64Test, EncodesEveryPaddingCase) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{'f'}, "Zg=="},
      {{'f', 'o'}, "Zm8="},
      {{'f', 'o', 'o'}, "Zm9v"},
      {{'f', 'o', 'o', 'b', 'a', 'r'}, "Zm9vYmFy"},
      {{0xFB, 0xFF, 0xBF}, "+/+/"},  // the two last letters of the alphabet
      {{0x00, 0x00}, "AAA="},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EncodeBase64(c.bytes), c.text);
}

}  // namespace
}  // namespace Quarn
