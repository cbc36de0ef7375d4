#include "tests/support/cross_format.h"

#include <gtest/gtest.h>

namespace Quarn {
namespace {

// Each document decodes to the same tree from its JSON, YAML and MessagePack forms.
TEST(CrossFormatTest, EveryFormatBuildsTheSameTree) {
  const char* const documents[] = {
      R"({"a":1,"b":[true,false,null],"c":"text"})",
      R"([18446744073709551615,-9223372036854775808,0,-1])",
      R"([0.5,-2.25,1e-300,3.14159])",
      R"({"b":{"y":2,"x":[]},"a":{}})",
      R"({"repeated":1,"repeated":2})",
      R"({"merged":{"x":1},"merged":{"y":2}})",
      R"(["line\nbreak","tab\t","quote\"","back\\slash","caf\u00e9","\u2603"])",
      R"({"":"empty name","nested":[[[["deep"]]]]})",
      R"({"null":null,"yes":"yes","on":"On","tilde":"~"})",
      R"([{"id":7,"inventoryType":"A","items":["x","y"]},{"id":8}])",
  };
  for (const char* document : documents)
    test::ExpectSameInAllFormats(document);
}

}  // namespace
}  // namespace Quarn
