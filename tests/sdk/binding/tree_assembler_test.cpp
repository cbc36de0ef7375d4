#include "sdk/binding/tree_assembler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sdk/binding/module_heap.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"

namespace Quarn {
namespace {

// A random JSON value: objects with names in any order (some sharing their first bytes), arrays
// of objects inside objects, so that gathered fields move while arrays below them are still open.
void AppendValue(std::string& out, std::mt19937& random, int depth) {
  const unsigned choice = depth > 3 ? random() % 3 : random() % 5;
  switch (choice) {
    case 0:
      out += std::to_string(random() % 1000);
      break;
    case 1:
      out += "\"text " + std::to_string(random() % 50) + "\"";
      break;
    case 2:
      out += random() % 2 != 0 ? "null" : "true";
      break;
    case 3: {
      out += '[';
      const unsigned count = random() % 5;
      for (unsigned i = 0; i < count; ++i) {
        if (i != 0) out += ',';
        AppendValue(out, random, depth + 1);
      }
      out += ']';
      break;
    }
    default: {
      out += '{';
      const unsigned count = random() % 2 != 0 ? random() % 20 : 60 + random() % 20;  // small and large
      const unsigned base = random() % 1000;
      for (unsigned i = 0; i < count; ++i) {
        if (i != 0) out += ',';
        // Distinct names, in no order; the common prefixes make some differ only in bytes 8 to 11, or
        // only past twelve bytes.
        static const char* const kPrefixes[] = {"", "eightchr", "sharedprefix_"};
        out += "\"" + std::string(kPrefixes[random() % 3]) + std::to_string((base + i * 7919u) % 100003u) +
               "\":";
        AppendValue(out, random, depth + 1);
      }
      out += '}';
    }
  }
}

// Repeating a name sends the document to the builder that handles repeated names, so each document
// is decoded both ways; a repeat that changes nothing must give the same tree.
TEST(TreeAssemblerTest, GatheredStructuresEqualFieldByFieldBuilding) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string body;
    AppendValue(body, random, 1);
    const std::string document = "{\"a\":" + body + ",\"z\":1}";
    const std::string repeated = "{\"a\":" + body + ",\"z\":0,\"z\":1}";
    const ConversionResult gathered = DecodeJson(document);
    const ConversionResult built = DecodeJson(repeated);
    ASSERT_TRUE(gathered.Ok()) << gathered.Message();
    ASSERT_TRUE(built.Ok()) << built.Message();
    ASSERT_EQ(EncodeJson(gathered.Value()), EncodeJson(built.Value())) << document;
  }
}

TEST(TreeAssemblerTest, WideStructuresAreFoundByName) {
  std::string document = "{";
  for (int i = 299; i >= 0; --i)
    document += "\"f" + std::to_string(i) + "\":" + std::to_string(i) + (i != 0 ? "," : "}");
  const ConversionResult result = DecodeJson(document);
  ASSERT_TRUE(result.Ok());
  EXPECT_EQ(result.Value().Count(), 300u);
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(result.Value().Field("f" + std::to_string(i)).GetUnsigned(0), static_cast<std::uint64_t>(i));
  EXPECT_EQ(result.Value().FieldAt(0).name, "f0");
  EXPECT_EQ(result.Value().FieldAt(1).name, "f1");
  EXPECT_EQ(result.Value().FieldAt(2).name, "f10");
}

// A decoder that stops midway (a syntax error, a repeat deep inside) leaves nothing behind.
TEST(TreeAssemblerTest, StoppingMidwayReleasesWhatWasGathered) {
  const std::uint64_t inUse = HeapBytesInUse();
  const char* const documents[] = {
      R"({"b":{"y":[{"q":"a text longer than any inline capacity"}],"x":1},"a":)",
      R"([{"b":{"y":[1,{"k":2,"k":3}]},"a":2}, {"n":"a text longer than any inline capacity"}, 1e999])",
      R"({"b":[[[{"x":"a text longer than any inline capacity","x":1}]]],"a":tru})",
  };
  for (const char* document : documents) {
    EXPECT_FALSE(DecodeJson(document).Ok()) << document;
    EXPECT_EQ(HeapBytesInUse(), inUse) << document;
  }
  const ConversionResult repeated =
      DecodeJson(R"([{"b":{"y":[1,{"k":2,"k":3}]},"a":2}, {"n":"a text longer than any inline capacity"}])");
  ASSERT_TRUE(repeated.Ok());
  EXPECT_EQ(EncodeJson(repeated.Value()),
            R"([{"a":2,"b":{"y":[1,{"k":3}]}},{"n":"a text longer than any inline capacity"}])");
}

// Each allocation refused in turn while an object gathers more fields than the assembler holds inline:
// the decoder reports the memory it lacked or hands out the whole tree, and nothing leaks either way.
TEST(TreeAssemblerTest, RefusedMemoryWhileGatheringLeavesNothingBehind) {
  std::string wide = "{";
  for (int i = 0; i < 40; ++i)
    wide += (i != 0 ? ",\"m" : "\"m") + std::to_string((i * 17) % 40) + "\":" + std::to_string(i);
  const std::string document = R"({"z":1,"inner":)" + wide + R"(},"a":[)" + wide + "}]}";
  const std::string whole = EncodeJson(DecodeJson(document).Value());
  const std::uint64_t inUse = HeapBytesInUse();
  int refusals = 0;
  for (std::uint64_t nth = 1; nth < 64; ++nth) {
    FailNthHeapAllocation(nth);
    const ConversionResult result = DecodeJson(document);
    const bool fired = FailNthHeapAllocation(0) == 0;
    if (result.Ok()) {
      EXPECT_EQ(EncodeJson(result.Value()), whole) << nth;
    } else {
      EXPECT_TRUE(fired) << nth;
      ++refusals;
    }
    if (!fired) break;
  }
  EXPECT_GT(refusals, 2);
  EXPECT_EQ(HeapBytesInUse(), inUse);
}

}  // namespace
}  // namespace Quarn
