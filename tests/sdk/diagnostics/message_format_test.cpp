#include "sdk/diagnostics/message_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace Quarn {
namespace {

struct Case {
  const char* what;
  std::string actual;
  std::string expected;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(c.actual, c.expected) << c.what;
}

const std::int32_t kMinusOne = -1;

TEST(FormatStringTest, PositionalAndPrintfDirectives) {
  const ApiVersion plugin{18, 1, 0, "", ""};
  const ApiVersion core{18, 0, 0, "", ""};
  const char* nullText = nullptr;
  const char unterminated[3] = {'x', 'y', 'z'};
  ExpectCases({
      {"positions in order",
       FormatString("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                    "gox-loadouts", plugin, core),
       "gox-loadouts which supports plugin API 18.1.0 is not compatible with core's plugin API 18.0.0"},
      {"positions out of order", FormatString("%2 before %1", "a", "b"), "b before a"},
      {"a position used twice", FormatString("%1-%1", 7), "7-7"},
      {"escaped percent", FormatString("100%%"), "100%"},
      {"no directives", FormatString("plain text"), "plain text"},
      {"position beyond the arguments", FormatString("x%1y"), "x"},
      {"beyond the count it is a width, the space a conversion", FormatString("a %3 b", "x", "y"), "a   xb"},
      {"beyond the count it is a width", FormatString("%5d", 42), "   42"},
      {"a position ends at its digits", FormatString("%2d", 1, 2), "2d"},
      {"position with a printf spec", FormatString("%1$05.1f|%1", 3.14159), "003.1|3.14159"},
      {"64-bit hexadecimal", FormatString("%x", std::numeric_limits<std::uint64_t>::max()),
       "ffffffffffffffff"},
      {"a text conversion for an integer", FormatString("%s", 42), "42"},
      {"an integer conversion for a text", FormatString("%d", "word"), "word"},
      {"sequential printf", FormatString("Error: %s at offset %u.", "bad", 7u), "Error: bad at offset 7."},
      {"64-bit defaults",
       FormatString("%1 %2", std::numeric_limits<std::int64_t>::min(), std::uint64_t{1} << 63),
       "-9223372036854775808 9223372036854775808"},
      {"characters", FormatString("%1 %2$d %3", 'A', 'A', static_cast<signed char>(-1)), "A 65 \xff"},
      {"bool is a number", FormatString("%1%2", true, false), "10"},
      {"double default", FormatString("%1 %2 %3", 0.1, 1e20, -0.0), "0.1 1e+20 -0"},
      {"pair of texts", FormatString("%1", std::pair<std::string, std::string>("a", "b")), "a:b"},
      {"pair with width", FormatString("%-6s|", std::pair<const char*, const char*>("a", "b")), "a:b   |"},
      {"pair cut by precision", FormatString("%.4s", std::pair<std::string, std::string>("ab", "cd")),
       "ab:c"},
      {"null text", FormatString("%1|%8s", nullText, nullText), "(null)|  (null)"},
      {"zero flag pads texts with spaces", FormatString("%05s", "ab"), "   ab"},
      {"string view without NUL", FormatString("%1", std::string_view("abcdef", 3)), "abc"},
      {"character array without NUL", FormatString("%1", unterminated), "xyz"},
      {"star width before the value", FormatString("%*d|", 5, 42), "   42|"},
      {"negative star width left-justifies", FormatString("%*d|", -5, 42), "42   |"},
      {"star precision", FormatString("%.*s", 2, "abcdef"), "ab"},
      {"negative star precision is none", FormatString("%.*f", -1, 1.5), "1.500000"},
      {"positional star", FormatString("%2$*1$d", 5, 42), "   42"},
      {"0 is a flag, $ the conversion", FormatString("%0$d", 7), "7d"},
      {"%n renders the argument", FormatString("%n|%n", 5, "x"), "5|x"},
      {"a missing conversion is the default", FormatString("[%1$", 7), "[7"},
      {"template ending in %", FormatString("a%", 7), "a7"},
      {"template ending after a width", FormatString("a%5", 7), "a    7"},
      {"template ending after a flag", FormatString("a%-", 7), "a7"},
  });
}

// A directive's own length modifier must not make printf read a different C type than the argument's.
TEST(FormatStringTest, LengthModifiersMatchTheArgument) {
  ExpectCases({
      {"h narrows", FormatString("%hd", 65537), "1"},
      {"hh narrows", FormatString("%hhx", 0x1ff), "ff"},
      {"h narrows 64 bits", FormatString("%hu", std::uint64_t{0x10005}), "5"},
      {"ll widens a signed 32-bit value", FormatString("%lld %llx", kMinusOne, kMinusOne),
       "-1 ffffffffffffffff"},
      {"l widens an unsigned 32-bit value", FormatString("%lu", 4294967295u), "4294967295"},
      {"z and j", FormatString("%zu %jd", std::size_t{5}, std::int64_t{-5}), "5 -5"},
      {"L on a double", FormatString("%Lf", 1.5), "1.500000"},
      {"L on an integer", FormatString("%Ld", -3), "-3"},
      {"l on a character", FormatString("%lc", 'A'), "A"},
      {"ll with c", FormatString("%llc", std::int64_t{65}), "A"},
      {"l on a text", FormatString("%ls", "text"), "text"},
      {"hex spec on a 32-bit value", FormatString("%1$016llX", kMinusOne), "FFFFFFFFFFFFFFFF"},
  });
}

TEST(FormatStringTest, BadDirectivesEndTheOutput) {
  const std::string flags58(58, '-');
  ExpectCases({
      {"star from a text", FormatString("a%*db", "x", 3), "a"},
      {"star at the end, no value", FormatString("a%*", 5), "a"},
      {"star at the end with a value", FormatString("a%*", 5, 42), "a   42"},
      {"star position missing", FormatString("a%*3$d", 1, 2), "a"},
      {"star position zero", FormatString("a%*0$d", 1, 2), "a"},
      {"sequential argument missing", FormatString("a%d%d|", 1), "a1"},
      {"59-character directive", FormatString(("<%" + flags58.substr(1) + "d>").c_str(), 7), "<7>"},
      {"60-character directive", FormatString(("<%" + flags58 + "d>").c_str(), 7), "<"},
  });
}

// Huge widths and precisions must come back cut at the buffer, quickly, as the unbounded rendering would.
TEST(FormatStringTest, HugeFieldsAreCutAtTheBuffer) {
  // Built as a non-literal so that the compiler does not flag the truncation the test is about.
  const std::string wideSpec = "%5000d";
  char reference[4096];
  std::snprintf(reference, sizeof reference, wideSpec.c_str(), 7);
  ExpectCases({
      {"width beyond the buffer", FormatString("%5000d", 7), reference},
      {"width beyond int", FormatString("%99999999999d", 7), std::string(4095, ' ')},
      {"left-justified", FormatString("%-99999999999d", 7), "7" + std::string(4094, ' ')},
      {"integer precision", FormatString("%.2000000000d", 7), std::string(4095, '0')},
      {"float precision", FormatString("%.2000000000f", 1.0), "1." + std::string(4093, '0')},
      {"star width", FormatString("%*s|", 2000000000, "x"), std::string(4095, ' ')},
      {"position too large to be one", FormatString("%99999999999999999999999$d", 7), std::string(4095, ' ')},
      {"5000-character message", FormatString(std::string(5000, 'm').c_str()), std::string(4095, 'm')},
      {"5000-character argument", FormatString("%1", std::string(5000, 'a')), std::string(4095, 'a')},
  });
}

TEST(FormatBufferTest, SmallBuffersAreCutAndTerminated) {
  const std::int32_t number = 12345;
  const char* text = "abcdef";
  const ArgumentDescriptor* const descriptors[] = {&kInt32Argument, &kTextArgument};
  const void* const arguments[] = {&number, &text};
  struct Row {
    std::size_t size;
    const char* templ;
    const char* expected;
  };
  const Row rows[] = {
      {1, "hello", ""},       {4, "hello", "hel"},   {4, "%1", "123"},       {6, "ab%7d", "ab  1"},
      {5, "x%2", "xabc"},     {3, "%%%%", "%%"},     {8, "%2%1", "abcdef1"}, {16, nullptr, ""},
      {6, "%2$-9s", "abcde"}, {6, "%8.3x", "    3"},
  };
  for (const Row& row : rows) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    const std::size_t length = FormatBuffer(buffer, row.size, row.templ, descriptors, arguments, 2);
    EXPECT_EQ(std::string(buffer, length), row.expected) << row.templ;
    EXPECT_EQ(buffer[length], '\0') << row.templ;
    EXPECT_EQ(buffer[row.size], '#') << row.templ;
  }
  char untouched = '#';
  EXPECT_EQ(FormatBuffer(&untouched, 0, "hello", descriptors, arguments, 2), 0u);
  EXPECT_EQ(untouched, '#');
}

// The arrays hold exactly `count` entries; AddressSanitizer reports any read past them.
TEST(FormatBufferTest, ReadsNoArgumentBeyondTheCount) {
  const std::int32_t number = 3;
  const ArgumentDescriptor* const descriptors[] = {&kInt32Argument};
  const void* const arguments[] = {&number};
  for (const char* templ : {"%1 %2", "%d %d", "%*d", "%.*d", "%2$d", "%*2$d", "%1$*2$d"}) {
    char buffer[64];
    FormatBuffer(buffer, sizeof buffer, templ, descriptors, arguments, 1);
  }
  char buffer[16];
  EXPECT_EQ(FormatBuffer(buffer, sizeof buffer, "a%d", nullptr, nullptr, 5), 1u);
}

// Every fast path and every spec built for printf must match printf's own rendering.
TEST(FormatStringTest, MatchesPrintf) {
  const char* integerSpecs[] = {"%d",  "%5d", "%-5d|", "%+d",    "% d", "%05d", "%.3d",  "%x",
                                "%#x", "%X",  "%#o",   "%10.4x", "%u",  "%i",   "%-+8i|"};
  const std::int64_t integers[] = {
      0, 1, -1, 42, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
  char expected[512];
  for (const char* spec : integerSpecs) {
    const std::size_t conversion = std::string_view(spec).find_first_of("diuxXo");
    const bool isSigned = spec[conversion] == 'd' || spec[conversion] == 'i';
    const std::string wide = std::string(spec).insert(conversion, "ll");
    for (const std::int64_t value : integers) {
      const std::int32_t narrow = static_cast<std::int32_t>(value);
      if (isSigned) std::snprintf(expected, sizeof expected, spec, narrow);
      if (!isSigned) std::snprintf(expected, sizeof expected, spec, static_cast<std::uint32_t>(narrow));
      EXPECT_EQ(FormatString(spec, narrow), expected) << spec << " " << value;
      const std::int64_t large = value * 4294967296;
      if (isSigned) std::snprintf(expected, sizeof expected, wide.c_str(), static_cast<long long>(large));
      if (!isSigned)
        std::snprintf(expected, sizeof expected, wide.c_str(), static_cast<unsigned long long>(large));
      EXPECT_EQ(FormatString(spec, large), expected) << spec << " " << value;
    }
  }
  const char* doubleSpecs[] = {"%g", "%e",  "%f",  "%.3f",   "%10.2E", "%a",
                               "%A", "%+g", "%#g", "%-12g|", "%G",     "%F"};
  std::vector<double> doubles = {0.0,         -0.0, 1.5,      -1e-300, 1e308,    5e-324,    0.1,
                                 123456789.0, 1e-5, 999999.5, 1e6,     INFINITY, -INFINITY, std::nan("")};
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 200; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    double value = 0;
    std::memcpy(&value, &state, sizeof value);
    doubles.push_back(value);
  }
  for (const char* spec : doubleSpecs) {
    for (const double value : doubles) {
      std::snprintf(expected, sizeof expected, spec, value);
      EXPECT_EQ(FormatString(spec, value), expected) << spec << " " << value;
    }
  }
}

struct NamedCase {
  const char* templ;
  std::vector<NamedValue> values;
  const char* positional;
  FieldMap fields;
};

TEST(ExpandNamedTemplateTest, PositionalFormAndFields) {
  using S = std::string;
  const std::int64_t zero = 0;
  const NamedCase cases[] = {
      {"Error response for {method} {url}: {error}",
       {S("GET"), S("/x"), S("boom")},
       "Error response for %1 %2: %3",
       {{"method", S("GET")}, {"url", S("/x")}, {"error", S("boom")}}},
      {"{{x}}", {}, "{x}", {}},
      {"a } b }} c", {}, "a } b } c", {}},
      {"100%% {n}", {zero}, "100%% %1", {{"n", zero}}},
      {"%s and %-5d and {name}", {S("a"), zero, S("b")}, "%s and %-5d and %3", {{"name", S("b")}}},
      {"{#count}", {std::int64_t{3}}, "%1", {{"count_int", std::int64_t{3}}}},
      {"{#retries_int}", {std::int64_t{3}}, "%1", {{"retries_int", std::int64_t{3}}}},
      {"{#name@str}", {std::int64_t{5}}, "%1", {{"name_str", S("5")}}},
      {"{#ok}{#ratio}{#id}{#none}",
       {true, 0.5, std::uint64_t{9}, NamedValue()},
       "%1%2%3%4",
       {{"ok_bool", true}, {"ratio_float", 0.5}, {"id_int", std::uint64_t{9}}, {"none", NamedValue()}}},
      {"{#at_time}{#n_long}{#a_b}",
       {zero, zero, zero},
       "%1%2%3",
       {{"at_time", zero}, {"n_long", zero}, {"a_b_int", zero}}},
      {"{flag?none}", {false}, "none", {}},
      {"{flag?none}", {true}, "%1", {{"flag", true}}},
      {"{n?zero}{d?zero}{s?empty}", {zero, 0.0, S()}, "zerozeroempty", {}},
      {"Failed  \t{detail!}.", {S("why")}, "Failed.", {{"detail", S("why")}}},
      {"{a} {n:5d}", {S("x"), zero}, "%1 %2$5d", {{"a", S("x")}, {"n", zero}}},
      {"{code@hex}", {std::int64_t{-1}}, "%1$016llX", {{"code", S("FFFFFFFFFFFFFFFF")}}},
      {"{b@str} {d@str}", {true, 1.5}, "%1 %2", {{"b", S("true")}, {"d", S("1.500000")}}},
      {"{a} {b} {c}!", {zero, zero}, "%1 %2 !", {{"a", zero}, {"b", zero}}},
      {"{a\\}b} {na{me}", {zero, zero}, "%1 %2", {{"a}b", zero}, {"name", zero}}},
      {"{a} {a}", {zero, std::int64_t{2}}, "%1 %2", {{"a", std::int64_t{2}}}},
      {"{}", {zero}, "%1", {}},
      {"abc {name", {zero}, "abc ", {}},
      {"abc{", {}, "abc", {}},
      {"abc%", {}, "abc%", {}},
      {"{count}0 items", {zero}, "%1$s0 items", {{"count", zero}}},
      {"{a}{b?7}", {zero, zero}, "%1$s7", {{"a", zero}}},
      {"{a} {b!}5", {zero, zero}, "%1$s5", {{"a", zero}, {"b", zero}}},
  };
  for (const NamedCase& c : cases) {
    FieldMap fields;
    EXPECT_EQ(ExpandNamedTemplate(c.templ, c.values.data(), c.values.size(), fields), c.positional)
        << c.templ;
    EXPECT_EQ(fields, c.fields) << c.templ;
  }
}

TEST(FormatNamedTest, RendersWhatItRecords) {
  FieldMap fields{{"errorCode_int", std::int64_t{500}}};
  EXPECT_EQ(
      FormatNamed("Error response for {method} {url}: {error}", fields, "GET", std::string("/x"), "boom"),
      "Error response for GET /x: boom");
  EXPECT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields["errorCode_int"], NamedValue(std::int64_t{500}));

  FieldMap more;
  EXPECT_EQ(FormatNamed("{count}0 items, code {code@hex}, {#version}", more, 3, kMinusOne,
                        ApiVersion{18, 0, 0, "", ""}),
            "30 items, code FFFFFFFFFFFFFFFF, 18.0.0");
  EXPECT_EQ(more["code"], NamedValue(std::string("FFFFFFFFFFFFFFFF")));
  EXPECT_EQ(more["version_str"], NamedValue(std::string("18.0.0")));
}

}  // namespace
}  // namespace Quarn
