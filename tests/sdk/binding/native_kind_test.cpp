#include "sdk/binding/native_kind.h"

#include <gtest/gtest.h>

namespace Quarn {
namespace {

// Messages and the API description print these texts; a shifted entry would misname every kind after it.
TEST(NativeKindTest, EveryCodeHasItsTextAndOthersAreEmpty) {
  const char* const expected[] = {"",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
                                  "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
                                  "blob",   "vector", "enum",   "struct", "callback", "map"};
  for (std::uint32_t code = 0; code < std::size(expected); ++code)
    EXPECT_EQ(NativeKindName(static_cast<NativeKind>(code)), expected[code]) << "code " << code;
  EXPECT_EQ(NativeKindName(static_cast<NativeKind>(20)), "");
  EXPECT_EQ(NativeKindName(static_cast<NativeKind>(0xFFFFFFFFu)), "");
}

}  // namespace
}  // namespace Quarn
