#include "sdk/diagnostics/message_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace Quarn {
namespace {

// A directive's text, from its "%" to its conversion but without a leading position "N$", is at most this
// long; a longer one ends the output.
constexpr std::size_t kMaxSpecLength = 59;

// Digit strings saturate here, well above any count of arguments or characters a message can use.
constexpr std::int64_t kSaturatedNumber = std::int64_t{1} << 40;

// Widths and precisions handed to the platform's printf are bounded in terms of the space left, so that a
// template such as "%2000000000d" costs no more than the buffer it writes into. The bounds keep the visible
// output identical: a float has at most 1074 exact fraction digits and its other parts stay below 400
// characters, so the cut text does not change.
constexpr std::int64_t kSpaceBound = std::int64_t{1} << 28;
constexpr std::int64_t kPrecisionMargin = 1100;
constexpr std::int64_t kWidthMargin = 400;

// The directive of "%N": the argument's default rendering.
constexpr FormatDirective kDefaultDirective{};

// A directive as written: the argument it selects, where its "*" values come from, and its printf parts.
struct DirectiveSyntax {
  int position = 0;        // the argument a "%N" or "%N$" selects; 0: the next one in order
  int widthStar = -1;      // -1: no "*" width; 0: from the next argument in order; M: from argument M
  int precisionStar = -1;  // as widthStar, for the precision
  std::size_t specLength = 1;
  FormatDirective directive;
};

[[nodiscard]] bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a run of digits at `p`, saturating; returns the position after it.
const char* ReadNumber(const char* p, const char* end, std::int64_t& number) {
  number = 0;
  for (; p < end && IsDigit(*p); ++p)
    number = std::min(number * 10 + (*p - '0'), kSaturatedNumber);
  return p;
}

[[nodiscard]] unsigned FlagOf(char c) {
  switch (c) {
    case '-':
      return kFormatFlagMinus;
    case '+':
      return kFormatFlagPlus;
    case ' ':
      return kFormatFlagSpace;
    case '#':
      return kFormatFlagHash;
    case '0':
      return kFormatFlagZero;
    default:
      return 0;
  }
}

// The length modifier starting with `c`; `doubled` tells whether `c` is written twice ("hh", "ll").
[[nodiscard]] FormatLength LengthOf(char c, bool doubled) {
  switch (c) {
    case 'h':
      return doubled ? FormatLength::kHH : FormatLength::kH;
    case 'l':
      return doubled ? FormatLength::kLL : FormatLength::kL;
    case 'j':
      return FormatLength::kJ;
    case 'z':
      return FormatLength::kZ;
    case 't':
      return FormatLength::kT;
    case 'L':
      return FormatLength::kBigL;
    default:
      return FormatLength::kNone;
  }
}

// Reads a width or precision at `p`: "*", "*M$" or digits. Returns the position after it.
const char* ReadAmount(const char* p, const char* end, DirectiveSyntax& syntax, bool& has,
                       std::int64_t& value, int& star) {
  if (p < end && *p == '*') {
    ++p;
    ++syntax.specLength;
    star = 0;
    std::int64_t index = 0;
    const char* after = ReadNumber(p, end, index);
    if (after > p && after < end && *after == '$') {
      // There is no argument 0: -2 marks it, and it ends the output as an index beyond the count does.
      star =
          index == 0 ? -2 : static_cast<int>(std::min<std::int64_t>(index, std::numeric_limits<int>::max()));
      syntax.specLength += static_cast<std::size_t>(after + 1 - p);
      p = after + 1;
    }
    return p;
  }
  const char* after = ReadNumber(p, end, value);
  syntax.specLength += static_cast<std::size_t>(after - p);
  has = has || after > p;
  return after;
}

// Parses the directive that starts with the "%" at `percent`, for `count` arguments, and returns the
// position after it. Parsing is purely textual; nothing is read beyond `end`.
const char* ParseDirective(const char* percent, const char* end, int count, DirectiveSyntax& syntax) {
  const char* p = percent + 1;
  if (p < end && *p >= '1' && *p <= '9') {
    std::int64_t number = 0;
    const char* after = ReadNumber(p, end, number);
    if (number <= count) {
      syntax.position = static_cast<int>(number);
      if (after == end || *after != '$') return after;
      p = after + 1;
    }
  }
  FormatDirective& directive = syntax.directive;
  for (; p < end && FlagOf(*p) != 0; ++p, ++syntax.specLength)
    directive.flags |= FlagOf(*p);
  p = ReadAmount(p, end, syntax, directive.hasWidth, directive.width, syntax.widthStar);
  if (p < end && *p == '.') {
    ++p;
    ++syntax.specLength;
    directive.hasPrecision = true;
    p = ReadAmount(p, end, syntax, directive.hasPrecision, directive.precision, syntax.precisionStar);
  }
  if (p < end) {
    directive.length = LengthOf(*p, p + 1 < end && p[1] == *p);
    std::size_t taken = directive.length == FormatLength::kNone ? 0 : 1;
    if (directive.length == FormatLength::kHH || directive.length == FormatLength::kLL) taken = 2;
    p += taken;
    syntax.specLength += taken;
  }
  if (p < end) {
    directive.conversion = *p++;
    ++syntax.specLength;
  }
  return p;
}

// Output helpers. Each returns false when the text did not fit, after writing as much of it as fits.

[[nodiscard]] std::size_t Room(const FormatOutput& output) {
  return output.size - 1 - output.length;
}

inline bool Append(FormatOutput& output, std::string_view text) {
  const std::size_t taken = std::min(text.size(), Room(output));
  if (taken > 0) std::memcpy(output.data + output.length, text.data(), taken);
  output.length += taken;
  return taken == text.size();
}

bool AppendFill(FormatOutput& output, char fill, std::int64_t count) {
  const std::size_t room = Room(output);
  const bool fits = static_cast<std::uint64_t>(count) <= room;
  const std::size_t taken = fits ? static_cast<std::size_t>(count) : room;
  std::memset(output.data + output.length, fill, taken);
  output.length += taken;
  return fits;
}

// Writes the platform printf's rendering of `spec` and `value` at the end of the output, cut to fit.
template <class T>
bool AppendPrinted(FormatOutput& output, const char* spec, T value) {
  const int written = std::snprintf(output.data + output.length, output.size - output.length, spec, value);
  if (written < 0) {
    output.data[output.length] = '\0';
    return false;
  }
  const bool fits = static_cast<std::size_t>(written) <= Room(output);
  output.length += fits ? static_cast<std::size_t>(written) : Room(output);
  return fits;
}

// Builds the printf spec "%" flags width "." precision modifier conversion into `spec` (64 bytes), with
// width and precision bounded by the space left (see kSpaceBound).
void BuildSpec(char* spec, const FormatOutput& output, const FormatDirective& directive,
               std::string_view modifier, char conversion) {
  const std::int64_t space = std::min<std::int64_t>(static_cast<std::int64_t>(Room(output)), kSpaceBound);
  char* p = spec;
  *p++ = '%';
  for (const char flag : {'-', '+', ' ', '#', '0'})
    if ((directive.flags & FlagOf(flag)) != 0) *p++ = flag;
  std::int64_t precision = 0;
  if (directive.hasPrecision) precision = std::min(directive.precision, space + kPrecisionMargin);
  if (directive.hasWidth)
    p = std::to_chars(p, spec + 32, std::min(directive.width, space + precision + kWidthMargin)).ptr;
  if (directive.hasPrecision) {
    *p++ = '.';
    p = std::to_chars(p, spec + 48, precision).ptr;
  }
  for (const char c : modifier)
    *p++ = c;
  *p++ = conversion;
  *p = '\0';
}

// The type's conversion for a directive: its own when the type allows it, else the type's default.
[[nodiscard]] char CompleteConversion(const FormatDirective& directive, std::string_view allowed) {
  const char conversion = directive.conversion;
  return conversion != '\0' && allowed.find(conversion) != std::string_view::npos ? conversion : allowed[0];
}

[[nodiscard]] bool IsPlain(const FormatDirective& directive) {
  return directive.flags == 0 && !directive.hasWidth && !directive.hasPrecision;
}

// Integer arguments. The value is held as 64 bits (signed types sign-extended); the printf call always
// receives the C type its spec names. A directive's own length modifier chooses that type: "h" and "hh"
// narrow through int, "l", "ll", "j", "z" and "t" widen to 64 bits, "L" is not one for integers and the
// type's own size applies. "%c" takes an int without a modifier.
struct IntegerForm {
  std::string_view allowed;  // allowed conversions, the default first
  bool wide;                 // 64 bits; else 32
};

constexpr IntegerForm kInt32Form{"dciouxX", false};
constexpr IntegerForm kUInt32Form{"ucdioxX", false};
constexpr IntegerForm kCharForm{"cdiouxX", false};
constexpr IntegerForm kInt64Form{"dciouxX", true};
constexpr IntegerForm kUInt64Form{"ucdioxX", true};

bool RenderInteger(FormatOutput& output, const FormatDirective& directive, const IntegerForm& form,
                   std::uint64_t bits) {
  const char conversion = CompleteConversion(directive, form.allowed);
  std::string_view modifier = form.wide ? "ll" : "";
  switch (directive.length) {
    case FormatLength::kHH:
      modifier = "hh";
      break;
    case FormatLength::kH:
      modifier = "h";
      break;
    case FormatLength::kL:
    case FormatLength::kLL:
    case FormatLength::kJ:
    case FormatLength::kZ:
    case FormatLength::kT:
      modifier = "ll";
      break;
    case FormatLength::kNone:
    case FormatLength::kBigL:
      break;
  }
  if (conversion == 'c') modifier = "";
  const bool wide = modifier == "ll";
  const bool isSigned = conversion == 'd' || conversion == 'i';

  if (IsPlain(directive) && (modifier.empty() || wide) && conversion != 'c' && conversion != 'o' &&
      conversion != 'x' && conversion != 'X') {
    char digits[24];
    std::to_chars_result result{};
    if (isSigned && wide)
      result = std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(bits));
    if (isSigned && !wide)
      result = std::to_chars(digits, digits + sizeof digits, static_cast<std::int32_t>(bits));
    if (!isSigned && wide) result = std::to_chars(digits, digits + sizeof digits, bits);
    if (!isSigned && !wide)
      result = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(bits));
    return Append(output, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
  }

  char spec[64];
  BuildSpec(spec, output, directive, modifier, conversion);
  if (conversion == 'c')
    return AppendPrinted(output, spec, static_cast<int>(static_cast<std::int32_t>(bits)));
  if (isSigned && wide) return AppendPrinted(output, spec, static_cast<long long>(bits));
  if (isSigned) return AppendPrinted(output, spec, static_cast<int>(static_cast<std::int32_t>(bits)));
  if (wide) return AppendPrinted(output, spec, static_cast<unsigned long long>(bits));
  return AppendPrinted(output, spec, static_cast<unsigned>(bits));
}

// Doubles: any length modifier is dropped, as only "%f"-style conversions of a double are defined.
bool RenderDouble(FormatOutput& output, const FormatDirective& directive, double value) {
  const char conversion = CompleteConversion(directive, "gaefGAEF");
  if (conversion == 'g' && IsPlain(directive)) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return Append(output, std::string_view(text, static_cast<std::size_t>(result.ptr - text)));
  }
  char spec[64];
  BuildSpec(spec, output, directive, "", conversion);
  return AppendPrinted(output, spec, value);
}

// Texts are written here rather than by printf, so they need no terminating NUL and a length modifier
// ("%ls") cannot make printf read them as wide text. The rendering is the parts in order, cut to the
// precision and padded with spaces to the width, as "%s" does.
bool RenderText(FormatOutput& output, const FormatDirective& directive, std::string_view first,
                std::string_view second = {}, std::string_view third = {}) {
  if (!directive.hasWidth && !directive.hasPrecision)
    return Append(output, first) && Append(output, second) && Append(output, third);
  std::size_t length = first.size() + second.size() + third.size();
  if (directive.hasPrecision) length = std::min(length, static_cast<std::size_t>(directive.precision));
  const std::int64_t padding =
      directive.hasWidth ? std::max<std::int64_t>(0, directive.width - static_cast<std::int64_t>(length)) : 0;
  const bool left = (directive.flags & kFormatFlagMinus) != 0;
  if (!left && !AppendFill(output, ' ', padding)) return false;
  std::size_t remaining = length;
  for (const std::string_view part : {first, second, third}) {
    const std::string_view taken = part.substr(0, std::min(part.size(), remaining));
    remaining -= taken.size();
    if (!Append(output, taken)) return false;
  }
  return !left || AppendFill(output, ' ', padding);
}

template <class T>
[[nodiscard]] const T& Read(const void* argument) {
  return *static_cast<const T*>(argument);
}

template <class T, const IntegerForm& kForm>
bool RenderIntegerArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  const T value = Read<T>(argument);
  const std::uint64_t bits = std::is_signed_v<T>
                                 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                                 : static_cast<std::uint64_t>(value);
  return RenderInteger(output, directive, kForm, bits);
}

template <class T>
std::int64_t IntegerArgumentValue(const void* argument) {
  const T value = Read<T>(argument);
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max()));
  } else {
    return static_cast<std::int64_t>(value);
  }
}

std::int64_t NotAnInteger(const void*) {
  return 0;
}

bool RenderDoubleArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  return RenderDouble(output, directive, Read<double>(argument));
}

bool RenderTextArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  return RenderText(output, directive, FormatDetail::TextView(Read<const char*>(argument)));
}

bool RenderStringArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  return RenderText(output, directive, Read<std::string_view>(argument));
}

bool RenderApiVersionArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  return RenderText(output, directive, Read<ApiVersion>(argument).ToText());
}

bool RenderTextPairArgument(FormatOutput& output, const FormatDirective& directive, const void* argument) {
  const FormatTextPair& pair = Read<FormatTextPair>(argument);
  return RenderText(output, directive, pair.first, ":", pair.second);
}

// Resolves a "*" width or precision from argument `star` (0: the next in order). Returns false when the
// argument is missing or not an integer.
bool ResolveStar(int star, int& sequential, const ArgumentDescriptor* const* descriptors,
                 const void* const* arguments, int count, std::int64_t& value) {
  const int index = star == 0 ? sequential++ : star;
  if (index < 1 || index > count) return false;
  const ArgumentDescriptor* descriptor = descriptors[index - 1];
  if (descriptor == nullptr || !descriptor->isInteger) return false;
  value = std::clamp(descriptor->toInteger(arguments[index - 1]), -kSaturatedNumber, kSaturatedNumber);
  return true;
}

// Renders argument `index` (from 1). Returns false when it is missing or its rendering did not fit.
bool RenderArgument(FormatOutput& output, const FormatDirective& directive, int index,
                    const ArgumentDescriptor* const* descriptors, const void* const* arguments, int count) {
  if (index > count || descriptors[index - 1] == nullptr) return false;
  return descriptors[index - 1]->render(output, directive, arguments[index - 1]);
}

}  // namespace

const ArgumentDescriptor kInt32Argument{&RenderIntegerArgument<std::int32_t, kInt32Form>,
                                        &IntegerArgumentValue<std::int32_t>, true};
const ArgumentDescriptor kUInt32Argument{&RenderIntegerArgument<std::uint32_t, kUInt32Form>,
                                         &IntegerArgumentValue<std::uint32_t>, true};
const ArgumentDescriptor kCharArgument{&RenderIntegerArgument<signed char, kCharForm>,
                                       &IntegerArgumentValue<signed char>, true};
const ArgumentDescriptor kInt64Argument{&RenderIntegerArgument<std::int64_t, kInt64Form>,
                                        &IntegerArgumentValue<std::int64_t>, true};
const ArgumentDescriptor kUInt64Argument{&RenderIntegerArgument<std::uint64_t, kUInt64Form>,
                                         &IntegerArgumentValue<std::uint64_t>, true};
const ArgumentDescriptor kDoubleArgument{&RenderDoubleArgument, &NotAnInteger, false};
const ArgumentDescriptor kTextArgument{&RenderTextArgument, &NotAnInteger, false};
const ArgumentDescriptor kStringArgument{&RenderStringArgument, &NotAnInteger, false};
const ArgumentDescriptor kApiVersionArgument{&RenderApiVersionArgument, &NotAnInteger, false};
const ArgumentDescriptor kTextPairArgument{&RenderTextPairArgument, &NotAnInteger, false};

std::size_t FormatBuffer(char* out, std::size_t size, const char* templ,
                         const ArgumentDescriptor* const* descriptors, const void* const* arguments,
                         int count) {
  if (out == nullptr || size == 0) return 0;
  if (descriptors == nullptr || arguments == nullptr || count < 0) count = 0;
  FormatOutput output{out, size, 0};
  const char* p = templ != nullptr ? templ : "";
  const char* const end = p + std::strlen(p);
  int sequential = 1;
  while (p < end && Room(output) > 0) {
    const char* percent = static_cast<const char*>(std::memchr(p, '%', static_cast<std::size_t>(end - p)));
    if (percent == nullptr) percent = end;
    if (!Append(output, std::string_view(p, static_cast<std::size_t>(percent - p))) || percent == end) break;
    if (percent + 1 < end && percent[1] == '%') {
      Append(output, "%");
      p = percent + 2;
      continue;
    }
    // The common "%N" of a single digit, in its default rendering.
    const int digit = percent + 1 < end ? percent[1] - '0' : 0;
    if (digit >= 1 && digit <= count && (percent + 2 == end || (!IsDigit(percent[2]) && percent[2] != '$'))) {
      p = percent + 2;
      if (!RenderArgument(output, kDefaultDirective, digit, descriptors, arguments, count)) break;
      continue;
    }
    DirectiveSyntax syntax;
    p = ParseDirective(percent, end, count, syntax);
    if (syntax.specLength > kMaxSpecLength) break;
    FormatDirective& directive = syntax.directive;
    if (syntax.widthStar != -1) {
      std::int64_t width = 0;
      if (!ResolveStar(syntax.widthStar, sequential, descriptors, arguments, count, width)) break;
      if (width < 0) directive.flags |= kFormatFlagMinus;
      directive.hasWidth = true;
      directive.width = width < 0 ? -width : width;
    }
    if (syntax.precisionStar != -1) {
      std::int64_t precision = 0;
      if (!ResolveStar(syntax.precisionStar, sequential, descriptors, arguments, count, precision)) break;
      directive.hasPrecision = precision >= 0;
      directive.precision = precision;
    }
    const int index = syntax.position != 0 ? syntax.position : sequential++;
    if (!RenderArgument(output, directive, index, descriptors, arguments, count)) break;
  }
  out[output.length] = '\0';
  return output.length;
}

namespace {

// The type suffixes a field name may end with; the first five name value kinds.
constexpr std::string_view kTypeSuffixes[] = {"_bool", "_int", "_long", "_float", "_str", "_time", "_ip"};

constexpr std::string_view kConversionStr = "str";
constexpr std::string_view kConversionHex = "hex";
constexpr std::string_view kHexSpec = "016llX";

// One "{...}" placeholder of a named template as written.
struct Placeholder {
  std::string name;
  std::string spec;
  std::string conversion;
  std::string fallback;
  bool suffixed = false;
  bool silent = false;
  bool specStarted = false;
  bool conversionStarted = false;
  bool fallbackStarted = false;

  // Ordinary characters go to the spec, else the conversion, else the fallback, else the name.
  void Add(char c) {
    std::string& part = specStarted         ? spec
                        : conversionStarted ? conversion
                        : fallbackStarted   ? fallback
                                            : name;
    part.push_back(c);
  }
};

// Reads the placeholder whose "{" is at `open`. Returns the position after its "}", or npos when the
// template ends first.
std::size_t ReadPlaceholder(std::string_view templ, std::size_t open, Placeholder& placeholder) {
  std::size_t i = open + 1;
  if (i < templ.size() && templ[i] == '#') {
    placeholder.suffixed = true;
    ++i;
  }
  while (i < templ.size()) {
    const char c = templ[i++];
    switch (c) {
      case '}':
        return i;
      case '!':
        placeholder.silent = true;
        break;
      case ':':
        placeholder.specStarted = true;
        break;
      case '@':
        placeholder.conversionStarted = true;
        break;
      case '?':
        placeholder.fallbackStarted = true;
        break;
      case '{':
        break;
      case '\\':
        if (i == templ.size()) return std::string_view::npos;
        placeholder.Add(templ[i++]);
        break;
      default:
        placeholder.Add(c);
        break;
    }
  }
  return std::string_view::npos;
}

[[nodiscard]] std::string DecimalText(double value) {
  char text[400];
  const int written = std::snprintf(text, sizeof text, "%f", value);
  return std::string(text,
                     static_cast<std::size_t>(std::clamp(written, 0, static_cast<int>(sizeof text) - 1)));
}

// The value as text, for the "str" conversion; none stays none.
[[nodiscard]] NamedValue AsText(const NamedValue& value) {
  switch (value.index()) {
    case 1:
      return std::string(std::get<bool>(value) ? "true" : "false");
    case 2:
      return std::to_string(std::get<std::int64_t>(value));
    case 3:
      return std::to_string(std::get<std::uint64_t>(value));
    case 4:
      return DecimalText(std::get<double>(value));
    default:
      return value;
  }
}

// For the "hex" conversion: the 64 bits of an integer value as 16 upper-case hexadecimal digits.
[[nodiscard]] bool AsHex(const NamedValue& value, NamedValue& text) {
  std::uint64_t bits = 0;
  if (const auto* signedValue = std::get_if<std::int64_t>(&value))
    bits = static_cast<std::uint64_t>(*signedValue);
  else if (const auto* unsignedValue = std::get_if<std::uint64_t>(&value))
    bits = *unsignedValue;
  else
    return false;
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(bits));
  text = std::string(digits, 16);
  return true;
}

[[nodiscard]] std::string_view SuffixOf(const NamedValue& value) {
  switch (value.index()) {
    case 1:
      return "_bool";
    case 2:
    case 3:
      return "_int";
    case 4:
      return "_float";
    case 5:
      return "_str";
    default:
      return "";
  }
}

[[nodiscard]] bool HasTypeSuffix(std::string_view name) {
  const std::size_t underscore = name.rfind('_');
  return underscore != std::string_view::npos &&
         std::find(std::begin(kTypeSuffixes), std::end(kTypeSuffixes), name.substr(underscore)) !=
             std::end(kTypeSuffixes);
}

// False, zero and empty text make a placeholder write its fallback.
[[nodiscard]] bool IsEmptyValue(const NamedValue& value) {
  switch (value.index()) {
    case 1:
      return !std::get<bool>(value);
    case 2:
      return std::get<std::int64_t>(value) == 0;
    case 3:
      return std::get<std::uint64_t>(value) == 0;
    case 4:
      return std::get<double>(value) == 0.0;
    case 5:
      return std::get<std::string>(value).empty();
    default:
      return false;
  }
}

[[nodiscard]] bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The positional template under construction. A reference written as bare "%N" would read on into a
// digit or "$" that follows it ("{count}0" must not become "%10"); such a reference is closed as "%N$s"
// first, which renders every argument type in its default form just as "%N" does.
class PositionalText {
 public:
  explicit PositionalText(std::size_t capacity) { text_.reserve(capacity); }

  void Append(std::string_view part) {
    if (!part.empty() && text_.size() == bareEnd_ && (IsDigit(part[0]) || part[0] == '$')) text_ += "$s";
    text_ += part;
  }

  void AppendReference(std::size_t number, std::string_view spec) {
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    Append("%");
    text_.append(digits, static_cast<std::size_t>(end - digits));
    if (spec.empty()) {
      bareEnd_ = text_.size();
      return;
    }
    text_ += '$';
    text_ += spec;
  }

  void TrimTrailingSpace() {
    while (!text_.empty() && IsSpace(text_.back()))
      text_.pop_back();
  }

  [[nodiscard]] std::string Take() { return std::move(text_); }

 private:
  std::string text_;
  std::size_t bareEnd_ = std::string::npos;
};

// Closes placeholder `number`: records its field and writes its reference, fallback or nothing.
void ClosePlaceholder(Placeholder& placeholder, std::size_t number, const NamedValue* values,
                      std::size_t count, FieldMap& fields, PositionalText& out) {
  if (number > count) return;
  NamedValue value = values[number - 1];
  if (placeholder.conversion == kConversionStr) value = AsText(value);
  if (placeholder.conversion == kConversionHex && AsHex(value, value)) placeholder.spec = kHexSpec;
  if (placeholder.suffixed && !HasTypeSuffix(placeholder.name)) placeholder.name += SuffixOf(value);
  if (placeholder.fallbackStarted && IsEmptyValue(value)) {
    out.Append(placeholder.fallback);
    return;
  }
  if (!placeholder.name.empty()) fields.insert_or_assign(std::move(placeholder.name), std::move(value));
  if (placeholder.silent) {
    out.TrimTrailingSpace();
    return;
  }
  out.AppendReference(number, placeholder.spec);
}

}  // namespace

std::string ExpandNamedTemplate(std::string_view templ, const NamedValue* values, std::size_t count,
                                FieldMap& fields) {
  if (values == nullptr) count = 0;
  fields.reserve(count);
  PositionalText out(templ.size() + 16);
  const int directiveCount = static_cast<int>(std::min<std::size_t>(count, std::numeric_limits<int>::max()));
  std::size_t number = 0;
  std::size_t i = 0;
  while (i < templ.size()) {
    const char c = templ[i];
    const char next = i + 1 < templ.size() ? templ[i + 1] : '\0';
    if (c == '{' && next == '{') {
      out.Append("{");
      i += 2;
    } else if (c == '{') {
      Placeholder placeholder;
      i = ReadPlaceholder(templ, i, placeholder);
      if (i == std::string_view::npos) break;
      ClosePlaceholder(placeholder, ++number, values, count, fields, out);
    } else if (c == '}') {
      out.Append("}");
      i += next == '}' ? 2 : 1;
    } else if (c == '%' && next == '%') {
      out.Append("%%");
      i += 2;
    } else if (c == '%') {
      DirectiveSyntax syntax;
      const char* start = templ.data() + i;
      const char* after = ParseDirective(start, templ.data() + templ.size(), directiveCount, syntax);
      out.Append(std::string_view(start, static_cast<std::size_t>(after - start)));
      ++number;
      i += static_cast<std::size_t>(after - start);
    } else {
      const std::size_t stop = std::min(templ.find_first_of("{}%", i), templ.size());
      out.Append(templ.substr(i, stop - i));
      i = stop;
    }
  }
  return out.Take();
}

namespace FormatDetail {

NamedValue NamedValueOf(std::int32_t value) {
  return NamedValue(std::int64_t{value});
}
NamedValue NamedValueOf(std::uint32_t value) {
  return NamedValue(std::uint64_t{value});
}
NamedValue NamedValueOf(signed char value) {
  return NamedValue(std::string(1, static_cast<char>(value)));
}
NamedValue NamedValueOf(std::int64_t value) {
  return NamedValue(value);
}
NamedValue NamedValueOf(std::uint64_t value) {
  return NamedValue(value);
}
NamedValue NamedValueOf(double value) {
  return NamedValue(value);
}
NamedValue NamedValueOf(const char* text) {
  return text != nullptr ? NamedValue(std::string(text)) : NamedValue();
}
NamedValue NamedValueOf(std::string_view text) {
  return NamedValue(std::string(text));
}
NamedValue NamedValueOf(const ApiVersion& version) {
  return NamedValue(version.ToText());
}
NamedValue NamedValueOf(const FormatTextPair& pair) {
  std::string text;
  text.reserve(pair.first.size() + 1 + pair.second.size());
  return NamedValue(text.append(pair.first).append(":").append(pair.second));
}

}  // namespace FormatDetail
}  // namespace Quarn
