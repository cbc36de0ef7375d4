#include "sdk/serialization/yaml_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "sdk/binding/module_heap.h"
#include "tests/support/small_stack.h"
#include "tests/support/thread_cpu_time.h"

namespace Quarn {
namespace {

// A compact text form of a tree: ~ empty, true/false, i-2 signed, u1 unsigned, f2.5 float, "x" string,
// [..] collection, {name:value,..} structure.
std::string Dump(const BindingProperty& value) {
  std::string out;
  switch (value.Kind()) {
    case BindingKind::Empty:
      return "~";
    case BindingKind::Bool:
      return value.GetBool(false) ? "true" : "false";
    case BindingKind::Signed:
      return "i" + std::to_string(value.GetSigned(0));
    case BindingKind::Unsigned:
      return "u" + std::to_string(value.GetUnsigned(0));
    case BindingKind::Float: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "f%.17g", value.GetFloat(0));
      return buffer;
    }
    case BindingKind::String:
      return "\"" + std::string(value.GetString({})) + "\"";
    case BindingKind::Collection:
      for (const BindingProperty& element : value.Elements())
        out += (out.empty() ? "" : ",") + Dump(element);
      return "[" + out + "]";
    case BindingKind::Structure:
      for (const BindingProperty::FieldView field : value.Fields())
        out += (out.empty() ? "" : ",") + std::string(field.name) + ":" + Dump(field.value);
      return "{" + out + "}";
    default:
      return "?";
  }
}

std::string Decoded(std::string_view text) {
  const ConversionResult result = DecodeYaml(text);
  return result.Ok() ? Dump(result.Value()) : "error: " + std::string(result.Message());
}

TEST(YamlDecoderTest, BuildsTreesAndTypesScalars) {
  struct Case {
    const char* text;
    const char* tree;
  };
  const Case cases[] = {
      {"a: 1\nb: [x, 2.5]\n", "{a:u1,b:[\"x\",f2.5]}"},
      {"--- a", "\"a\""},
      {"", "~"},
      {"a: ~\nb: null\nc:\nd: yes\ne: On\nf: n\ng: \"yes\"\nh: 'NULL'",
       "{a:~,b:~,c:~,d:true,e:true,f:false,g:\"yes\",h:\"NULL\"}"},
      {"[1e3, -2, 0.5, 0x1F, -0x1F, +5, -0, .5, 1.]", "[u1000,i-2,f0.5,u31,i-31,u5,u0,f0.5,u1]"},
      // Integer literals keep every digit; beyond the 64-bit ranges they are float.
      {"[18446744073709551615, -9223372036854775808, 9007199254740993]",
       "[u18446744073709551615,i-9223372036854775808,u9007199254740993]"},
      {"[18446744073709551616, -9223372036854775809, 1e300, -1e300]",
       "[f1.8446744073709552e+19,f-9.2233720368547758e+18,f1.0000000000000001e+300,f-1.0000000000000001e+"
       "300]"},
      // Infinity and NaN are not numbers here, whatever their sign.
      {"[inf, -inf, nan, 1e999, -1e999]", "[\"inf\",\"-inf\",\"nan\",\"1e999\",\"-1e999\"]"},
      {"[TRUE, False, y, N, off, yES, 1_000, 12x, a b]",
       "[true,false,true,false,false,\"yES\",\"1_000\",\"12x\",\"a b\"]"},
      // Only plain scalars are typed: block scalars are text.
      {"a: |-\n  yes\nb: >-\n  12", "{a:\"yes\",b:\"12\"}"},
      {"[!!str 12, !!bool yes, !!bool OFF]", "[\"12\",true,false]"},
      {"[!!int 7, !!int -7, !!int 0x10, !!float 2, !!float -0.5]", "[u7,i-7,u16,f2,f-0.5]"},
      {"{b: 1, a: 2, a: 3}", "{a:u3,b:u1}"},
      // An alias copies the anchored value as it is then; later changes to it do not reach the copy.
      {"a: &x {p: 1}\nb: *x\na: {q: 2}", "{a:{p:u1,q:u2},b:{p:u1}}"},
      {"[&s 7, *s, &l [1, *s], *l]", "[u7,u7,[u1,u7],[u1,u7]]"},
      {"&k a: 1\nb: *k", "{a:u1,b:\"a\"}"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Decoded(c.text), c.tree) << c.text;
}

// A small document's tree takes storage sized to it, not the storage of a large tree, while one whose
// records outgrow what its length promised still decodes whole and gives everything back.
TEST(YamlDecoderTest, StorageFollowsTheDocumentsSize) {
  std::string manyTexts;
  std::string manyDumped;
  for (int i = 0; i < 400; ++i) {
    manyTexts += "- t" + std::to_string(i) + "\n";
    manyDumped += (i == 0 ? "\"t" : ",\"t") + std::to_string(i) + "\"";
  }
  struct Case {
    std::string document;
    std::string dumped;
    std::uint64_t mostBytes;  // in use while the tree is held
  };
  const Case cases[] = {
      {"enabled: true\nid: 7\nname: alpha\ntags: [a, b]\n",
       R"({enabled:true,id:u7,name:"alpha",tags:["a","b"]})", 4096},
      {"- x\n", R"(["x"])", 4096},
      {"just a text", R"("just a text")", 8192},
      {manyTexts, "[" + manyDumped + "]", 128 * 1024},
  };
  for (const Case& c : cases) {
    const std::uint64_t bytesBefore = HeapBytesInUse();
    {
      const ConversionResult result = DecodeYaml(c.document);
      ASSERT_TRUE(result.Ok()) << c.document;
      EXPECT_LE(HeapBytesInUse() - bytesBefore, c.mostBytes) << c.document;
      EXPECT_EQ(Dump(result.Value()), c.dumped);
    }
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << c.document;
  }
}

TEST(YamlDecoderTest, RefusesWithExactMessages) {
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"{[1]: 2}", "Unexpected start of sequence. At line: 1 col: 2"},
      {"? {a: 1}\n: 2", "Unexpected start of mapping. At line: 1 col: 3"},
      {"--- a\n--- b", "Multi-document YAML is not supported."},
      {"a: &x {b: *x}", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      {"a: 1\nb: *nope", "Undefined alias encountered: \"nope\". At line: 2 col: 4"},
      {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"!!int 12x: 1", "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"!foo bar", "Unsupported YAML tag '!foo'."},
      // Tagged numbers: a leading minus reads as int64_t, any other text as uint64_t.
      {"!!int 12x", "Value 12x for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -12x", "Value -12x for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int 18446744073709551616",
       "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"!!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a:\n\tb: 1", "YAML parser error: found character that cannot start any token. At line: 1 col: 0"},
      {"!!bool maybe",
       "Value \"maybe\" tagged tag:yaml.org,2002:bool is neither a true nor a false word. At line: 1 col: 1"},
      {"a: &k b\n*k : 1", "Aliases cannot be mapping keys. Alias \"k\". At line: 2 col: 1"},
      // The whole length is read: a NUL byte is a character the parser refuses, not the end.
      {std::string("a: 1\0b: 2", 9),
       "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Decoded(c.text), "error: " + std::string(c.message)) << c.text;
}

TEST(YamlDecoderTest, AliasCopiesStayWithinTheNestingLimit) {
  std::string deep = "a: &d ";
  for (int i = 0; i < 300; ++i)
    deep += "[";
  deep += std::string(300, ']') + "\nb: ";
  for (int i = 0; i < 300; ++i)
    deep += "[";
  deep += "*d" + std::string(300, ']');
  EXPECT_EQ(Decoded(deep),
            "error: Alias \"d\" nests the document deeper than the limit of 512 levels. At line: 2 col: 304");
}

std::string Repeat(std::string_view piece, std::size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i)
    out += piece;
  return out;
}

// Nine anchored levels, each a list of nine aliases to the level below: 9^9 values if expanded.
std::string AliasBomb() {
  std::string text = "a: &a [\"ha\",\"ha\",\"ha\",\"ha\",\"ha\",\"ha\",\"ha\",\"ha\",\"ha\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    const std::string alias = std::string("*") + static_cast<char>(level - 1);
    text += std::string(1, level) + ": &" + level + " [" + Repeat(alias + ",", 8) + alias + "]\n";
  }
  return text;
}

// An anchored list of `items` numbers, then a list of `aliases` aliases to it.
std::string AliasedList(std::size_t items, std::size_t aliases) {
  return "a: &x [" + Repeat("1,", items) + "1]\nb: [" + Repeat("*x,", aliases) + "*x]\n";
}

std::string DeepFlow(std::size_t depth) {
  return std::string(depth, '[');
}

std::string ManyDocuments(std::size_t count) {
  return Repeat("---\n", count);
}

double SecondsToDecode(const std::string& text, std::string& message) {
  const double start = test::ThreadCpuSeconds();
  const ConversionResult result = DecodeYaml(text);
  const double spent = test::ThreadCpuSeconds() - start;
  message = result.Ok() ? "(accepted)" : std::string(result.Message());
  return spent;
}

TEST(YamlDecoderTest, RefusesHostileInputsQuicklyOnASmallStack) {
  struct Case {
    const char* what;
    std::string text;
    const char* messageStart;
  };
  const Case cases[] = {
      {"nine by nine alias bomb", AliasBomb(), "Alias \"d\" expands the document beyond the limit of"},
      {"10,000 items aliased 10,000 times", AliasedList(10'000, 10'000),
       "Alias \"x\" expands the document beyond the limit of"},
      {"alias inside its own list", "&x [*x]", "Cannot deserialize cyclic aliases. Alias \"x\"."},
      {"alias inside its own mapping", "&x {a: *x}", "Cannot deserialize cyclic aliases. Alias \"x\"."},
      {"unknown alias", "[1, *x]", "Undefined alias encountered: \"x\"."},
      {"1,000,000 [", DeepFlow(1'000'000),
       "YAML nesting exceeds the limit of 512 levels. At line: 1 col: 513"},
      {"bad percent escape in a tag", "!<tag:%zz> a", "YAML parser error: did not find URI escaped octet."},
      {"100,000 documents", ManyDocuments(100'000), "Multi-document YAML is not supported."},
  };
  test::OnSmallStack([&] {
    for (const Case& c : cases) {
      std::string message;
      const double seconds = SecondsToDecode(c.text, message);
      EXPECT_EQ(message.rfind(c.messageStart, 0), 0u) << c.what << ": " << message;
      EXPECT_LT(seconds, test::kHostileInputCpuSeconds) << c.what;
    }
  });
}

TEST(YamlDecoderTest, HostileInputsCostLinearTime) {
  struct Case {
    const char* what;
    std::function<std::string(std::size_t)> make;
    std::size_t size;
  };
  const Case cases[] = {
      {"aliased list", [](std::size_t n) { return AliasedList(n, n); }, 10'000},
      {"deep flow", DeepFlow, 1'000'000},
      {"documents", ManyDocuments, 100'000},
  };
  // The best of three runs. A fourfold input may cost up to eightfold (plus 20 ms for noise on tiny
  // durations): loose enough for a busy machine, while a quadratic cost would take sixteenfold.
  const auto best = [](const std::string& text) {
    std::string message;
    double fastest = 1e9;
    for (int run = 0; run < 3; ++run)
      fastest = std::min(fastest, SecondsToDecode(text, message));
    return fastest;
  };
  for (const Case& c : cases) {
    const double once = best(c.make(c.size));
    const double fourfold = best(c.make(4 * c.size));
    EXPECT_LT(fourfold, 8 * once + 0.02) << c.what << ": " << once << " s, then " << fourfold << " s";
  }
}

}  // namespace
}  // namespace Quarn
