#include "sdk/serialization/json_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "sdk/binding/module_heap.h"
#include "sdk/binding/nesting_limit.h"
#include "sdk/serialization/json_encoder.h"
#include "tests/support/small_stack.h"
#include "tests/support/thread_cpu_time.h"

namespace Quarn {
namespace {

using test::OnSmallStack;

// The decoded value, written back as compact JSON, with the kind of its root.
struct Decoded {
  BindingKind kind;
  std::string json;
};

struct ReadCase {
  std::string input;
  BindingKind kind;
  const char* json;
};

TEST(JsonDecoderTest, ReadsValues) {
  using enum BindingKind;
  const ReadCase cases[] = {
      {"1", Unsigned, "1"},
      {"-1", Signed, "-1"},
      {"-0", Signed, "0"},
      {"1.0", Float, "1.0"},
      {"1e2", Float, "100.0"},
      {"0.1", Float, "0.1"},
      {"18446744073709551615", Unsigned, "18446744073709551615"},
      {"18446744073709551616", Float, "18446744073709553000.0"},
      {"-9223372036854775808", Signed, "-9223372036854775808"},
      {"-9223372036854775809", Float, "-9223372036854776000.0"},
      {" \t\r\ntrue\n", Bool, "true"},
      {"null", Empty, ""},
      {R"({"a":null})", Structure, R"({"a":null})"},
      {"[null,1,[]]", Collection, "[null,1,[]]"},
      {R"({"b":1,"a":2,"B":3})", Structure, R"({"B":3,"a":2,"b":1})"},
      {R"({"a":1,"a":2})", Structure, R"({"a":2})"},
      {R"({"a":[1],"a":[2]})", Structure, R"({"a":[1,2]})"},
      {R"({"a":{"x":1},"a":{"y":2}})", Structure, R"({"a":{"x":1,"y":2}})"},
      {R"({"a":1,"a":null})", Structure, R"({"a":1})"},
      {R"({"a":1,"a":[2]})", Structure, R"({"a":[2]})"},
      {R"({"a":[1],"a":{"x":2}})", Structure, R"({"a":{"x":2}})"},
      {R"("a\u0000b")", String, R"("a")"},
      {R"({"a\u0000b":1,"a":2})", Structure, R"({"a":2})"},
      {R"(["ab",{"c\u0000d":"e"}])", Collection, R"(["ab",{"c":"e"}])"},
      {R"(["\\u0000x"])", Collection, R"(["\\u0000x"])"},  // an escaped backslash, then plain text
      {R"(["u0000",{"u0000":"a\u0000"}])", Collection, R"(["u0000",{"u0000":"a"}])"},  // the letters alone
      {R"("\ud83c\udfae \u00e9/")", String, "\"\xF0\x9F\x8E\xAE \xC3\xA9/\""},
      {std::string("[1]\0[", 5), Collection, "[1]"},
      // Exponents far below the smallest double: zero, whatever the count of fraction digits.
      {"1.0000000000e-2147483639", Float, "0.0"},
      {"-0.00000000001e-99999999999999999999", Float, "-0.0"},
      {"1e-400", Float, "0.0"},
  };
  for (const ReadCase& c : cases) {
    ConversionResult result = DecodeJson(c.input);
    ASSERT_TRUE(result.Ok()) << c.input << ": " << result.Message();
    EXPECT_EQ(result.Value().Kind(), c.kind) << c.input;
    EXPECT_EQ(EncodeJson(result.Value()), c.json) << c.input;
    ConversionResult sized = DecodeJson(c.input.data(), c.input.size());
    EXPECT_EQ(EncodeJson(sized.Value()), c.json) << "sized: " << c.input;
  }
}

// Strings are copied in runs of plain characters. Runs of every length up to a few reads long, before
// each kind of character that ends one, in a name and in a value, far from the end of the text and
// right at it; the sized text is an exact copy on the heap, so that a read past it shows.
TEST(JsonDecoderTest, ReadsStringsWhateverTheLengthOfTheirRuns) {
  struct Ending {
    const char* json;
    const char* text;
    bool cut = false;  // the text ends there: a NUL follows
  };
  const Ending endings[] = {{"", ""},
                            {"\\\"", "\""},
                            {"\\n", "\n"},
                            {"\\u00e9", "\xC3\xA9"},
                            {"\xE6\xBC\xA2", "\xE6\xBC\xA2"},
                            {"\\\\/", "\\/"},
                            {"\\u0000", "", true},
                            {"\\\\u0000", "\\u0000"},
                            {"\\\\\\u0000", "\\", true},
                            {"\\t\\u0000", "\t", true}};
  const auto read = [](const BindingProperty& root, bool asName, bool alone) {
    const BindingProperty& holder = alone ? root : root.Element(0);
    return std::string(asName ? holder.FieldAt(0).name : holder.GetString("(not a string)"));
  };
  for (std::size_t run = 0; run <= 40; ++run) {
    std::string plain;
    for (std::size_t i = 0; i < run; ++i)
      plain += static_cast<char>('a' + i % 26);
    for (const Ending& ending : endings) {
      const std::string quoted = "\"" + plain + ending.json + plain + "\"";
      const std::string expected = plain + ending.text + (ending.cut ? "" : plain);
      for (const bool asName : {false, true}) {
        const std::string value = asName ? "{" + quoted + ":1}" : quoted;
        for (const bool alone : {true, false}) {
          const std::string document = alone ? value : "[" + value + ",\"" + std::string(40, 'z') + "\"]";
          const std::unique_ptr<char[]> exact(new char[document.size()]);
          std::memcpy(exact.get(), document.data(), document.size());
          const ConversionResult results[] = {DecodeJson(document), DecodeJson(document.c_str()),
                                              DecodeJson(exact.get(), document.size())};
          for (const ConversionResult& result : results) {
            ASSERT_TRUE(result.Ok()) << document << ": " << result.Message();
            EXPECT_EQ(read(result.Value(), asName, alone), expected) << document;
          }
        }
      }
    }
    // A control character after the run is refused where it stands.
    const std::string refused = "[\"" + plain + "\x01" + plain + "\"]";
    EXPECT_EQ(DecodeJson(refused).Message(),
              "Error: Invalid escape character in string. at offset " + std::to_string(run + 2) + ".");
    const std::string unclosed = "\"" + plain;
    const std::unique_ptr<char[]> exact(new char[unclosed.size()]);
    std::memcpy(exact.get(), unclosed.data(), unclosed.size());
    EXPECT_EQ(
        DecodeJson(exact.get(), unclosed.size()).Message(),
        "Error: Missing a closing quotation mark in string. at offset " + std::to_string(run + 1) + ".");
  }
}

struct ErrorCase {
  std::string input;
  const char* message;
};

TEST(JsonDecoderTest, RefusesMalformedText) {
  const ErrorCase cases[] = {
      {"", "Error: The document is empty. at offset 0."},
      {"   ", "Error: The document is empty. at offset 3."},
      {std::string(" \0 1", 4), "Error: The document is empty. at offset 1."},
      {"[1,]", "Error: Invalid value. at offset 3."},
      {"{} x", "Error: The document root must not be followed by other values. at offset 3."},
      {"01", "Error: The document root must not be followed by other values. at offset 1."},
      {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"[1", "Error: Missing a comma or ']' after an array element. at offset 2."},
      {R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5."},
      {R"({"a":1 "b":2})", "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"{1:2}", "Error: Missing a name for object member. at offset 1."},
      {"NaN", "Error: Invalid value. at offset 0."},
      {"[1.]", "Error: Miss fraction part in number. at offset 3."},
      {"1e", "Error: Miss exponent in number. at offset 2."},
      {"1e999999999", "Error: Number too big to be stored in double. at offset 0."},
      {"[0, 1e309]", "Error: Number too big to be stored in double. at offset 4."},
      {"[0,1.8e308]", "Error: Number too big to be stored in double. at offset 3."},
      {"571.7976931348623157e308", "Error: Number too big to be stored in double. at offset 0."},
      {std::string("\"ab\0c\"", 6), "Error: Missing a closing quotation mark in string. at offset 3."},
      {"\"a\x01\"", "Error: Invalid escape character in string. at offset 2."},
      {R"("\x")", "Error: Invalid escape character in string. at offset 1."},
      {R"("\ud800")", "Error: The surrogate pair in string is invalid. at offset 1."},
      {"/* c */ 1", "Error: Invalid value. at offset 0."},
      {std::string(513, '['), "Error: Nesting deeper than 512 levels at offset 512."},
  };
  for (const ErrorCase& c : cases) {
    ConversionResult result = DecodeJson(c.input);
    EXPECT_FALSE(result.Ok()) << c.input;
    EXPECT_EQ(result.Message(), c.message) << c.input;
    EXPECT_EQ(result.Value().Count(), 1u) << "only the error survives: " << c.input;
    EXPECT_EQ(DecodeJson(c.input.data(), c.input.size()).Message(), c.message) << "sized: " << c.input;
  }
  EXPECT_EQ(DecodeJson(nullptr).Message(), "Error: The document is empty. at offset 0.");
  EXPECT_EQ(DecodeJson("[1]", 2).Message(),
            "Error: Missing a comma or ']' after an array element. at offset 2.");
}

std::string Repeat(std::string_view piece, std::size_t count) {
  std::string text;
  text.reserve(piece.size() * count);
  for (std::size_t i = 0; i < count; ++i)
    text += piece;
  return text;
}

// depth arrays and objects in turn, with 7 at the bottom.
std::string Nested(std::size_t depth) {
  std::string open;
  std::string close;
  for (std::size_t i = 0; i < depth; ++i) {
    open += i % 2 == 0 ? "[" : R"({"k":)";
    close += i % 2 == 0 ? "]" : "}";
  }
  return open + "7" + std::string(close.rbegin(), close.rend());
}

struct HostileCase {
  const char* what;
  std::function<std::string()> input;
  const char* message;  // null when the text is read
};

// Every case finishes on a 256 KiB stack, within a bound of CPU time, and leaves the module heap as it was.
TEST(JsonDecoderTest, HostileInputsOnASmallStack) {
  const HostileCase cases[] = {
      {"a million brackets", [] { return std::string(1'000'000, '['); },
       "Error: Nesting deeper than 512 levels at offset 512."},
      {"half a million open members", [] { return Repeat(R"({"a":)", 500'000); },
       "Error: Nesting deeper than 512 levels at offset 2560."},
      {"a million digits", [] { return std::string(1'000'000, '7'); },
       "Error: Number too big to be stored in double. at offset 0."},
      {"a huge exponent", [] { return std::string("1e999999999"); },
       "Error: Number too big to be stored in double. at offset 0."},
      {"a million fraction digits", [] { return "[0." + std::string(1'000'000, '0') + "1]"; }, nullptr},
      {"a million exponent digits", [] { return "1.5e-" + std::string(1'000'000, '9'); }, nullptr},
      {"a megabyte string", [] { return '"' + std::string(1'000'000, 'x') + '"'; }, nullptr},
      {"the deepest accepted", [] { return Nested(kMaxNestingDepth); }, nullptr},
      {"one level deeper", [] { return Nested(kMaxNestingDepth + 1); },
       "Error: Nesting deeper than 512 levels at offset 1536."},
  };
  const std::uint64_t bytesBefore = HeapBytesInUse();
  for (const HostileCase& c : cases) {
    const std::string input = c.input();
    OnSmallStack([&] {
      const double start = test::ThreadCpuSeconds();
      ConversionResult result = DecodeJson(input);
      if (c.message != nullptr) {
        EXPECT_EQ(result.Message(), c.message) << c.what;
      } else {
        // The tree is encoded, decoded again and destroyed on the same small stack.
        EXPECT_TRUE(result.Ok()) << c.what << ": " << result.Message();
        EXPECT_TRUE(DecodeJson(EncodeJson(result.Value())).Ok()) << c.what;
      }
      EXPECT_LT(test::ThreadCpuSeconds() - start, test::kHostileInputCpuSeconds) << c.what;
    });
  }
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

// A small document's tree takes storage sized to it, not the storage of a large tree, while one whose
// records outgrow what its length promised still decodes whole and gives everything back.
TEST(JsonDecoderTest, StorageFollowsTheDocumentsSize) {
  std::string manyTexts = "[";
  for (int i = 0; i < 400; ++i)
    manyTexts += (i == 0 ? "\"" : ",\"") + std::to_string(i) + "\"";
  manyTexts += "]";
  struct Case {
    std::string document;
    std::uint64_t mostBytes;  // in use while the tree is held
  };
  const Case cases[] = {
      {R"({"enabled":true,"id":7,"name":"alpha","tags":["a","b"]})", 4096},
      {R"(["x"])", 4096},
      {manyTexts, 128 * 1024},
  };
  for (const Case& c : cases) {
    const std::uint64_t bytesBefore = HeapBytesInUse();
    {
      ConversionResult result = DecodeJson(c.document);
      ASSERT_TRUE(result.Ok()) << c.document;
      EXPECT_LE(HeapBytesInUse() - bytesBefore, c.mostBytes) << c.document;
      EXPECT_EQ(EncodeJson(result.Value()), c.document);
    }
    EXPECT_EQ(HeapBytesInUse(), bytesBefore) << c.document;
  }
}

// Each allocation of the tree fails in turn: the decoder reports it instead of handing out a value
// with holes, and nothing leaks.
TEST(JsonDecoderTest, ReportsRefusedMemory) {
  const std::string input =
      R"({"name":"a longer text than fits inline","list":[1,2,3,{"x":[true]}],"b":"y"})";
  const std::uint64_t bytesBefore = HeapBytesInUse();
  bool succeeded = false;
  int refusals = 0;
  for (std::uint64_t nth = 1; !succeeded && nth < 100; ++nth) {
    FailNthHeapAllocation(nth);
    ConversionResult result = DecodeJson(input);
    const bool fired = FailNthHeapAllocation(0) == 0;
    succeeded = !fired;
    if (fired && result.Ok()) {
      // The refused allocation was one that ConversionResult itself needed; the tree must be whole.
      EXPECT_EQ(EncodeJson(result.Value()), EncodeJson(DecodeJson(input).Value())) << nth;
    } else if (fired) {
      EXPECT_EQ(result.Message(), "Error: Not enough memory to hold the decoded value.") << nth;
      ++refusals;
    } else {
      EXPECT_TRUE(result.Ok()) << nth;
    }
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(refusals, 5);
  EXPECT_EQ(HeapBytesInUse(), bytesBefore);
}

}  // namespace
}  // namespace Quarn
