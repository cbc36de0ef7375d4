// Message formatting: every human-readable text of the SDK is built here from a fixed template and typed
// arguments.
//
// Two template languages share one engine:
// - Positional and printf templates ("%1 which supports plugin API %2", "Error: %s at offset %u."): "%N"
//   renders argument N in its type's default form, printf directives are understood, and "%N$spec" combines
//   both. `FormatBuffer` renders them; `FormatString` wraps it for typed arguments.
// - Named templates ("Error response for {method} {url}: {error}"): `ExpandNamedTemplate` rewrites them
//   into positional form and records each placeholder's value as a named, typed field; `FormatNamed` then
//   renders the positional form with the same arguments.
//
// Formatting never fails loudly: a directive that cannot be parsed or refers to a missing argument ends the
// output where it stands, and output longer than the buffer is cut. Everything here is re-entrant; it uses
// only the caller's buffer, the stack and the caller's field map.

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>

#include "sdk/diagnostics/api_version.h"

namespace Quarn {

// The length modifier a printf directive carries ("h", "hh", "l", "ll", "j", "z", "t", "L"), or none.
enum class FormatLength : std::uint8_t { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kBigL };

// Flag bits of a printf directive.
inline constexpr unsigned kFormatFlagMinus = 1u;  // "-": left-justify
inline constexpr unsigned kFormatFlagPlus = 2u;   // "+": always a sign
inline constexpr unsigned kFormatFlagSpace = 4u;  // " ": a space where a plus sign would be
inline constexpr unsigned kFormatFlagHash = 8u;   // "#": alternative form
inline constexpr unsigned kFormatFlagZero = 16u;  // "0": pad numbers with zeros

// One directive as an argument renders it: "*" widths and precisions are already resolved to numbers (a
// negative "*" width has become the "-" flag). A conversion of '\0' asks for the type's default rendering.
struct FormatDirective {
  unsigned flags = 0;
  bool hasWidth = false;
  std::int64_t width = 0;  // >= 0
  bool hasPrecision = false;
  std::int64_t precision = 0;  // >= 0
  FormatLength length = FormatLength::kNone;
  char conversion = '\0';
};

// The caller's output buffer while a message is rendered. `length` characters are written; the last byte
// of the buffer is kept for the terminating NUL, so `length` never exceeds `size - 1`. REQUIRES: size > 0.
struct FormatOutput {
  char* data;
  std::size_t size;
  std::size_t length;
};

// How one argument type takes part in formatting; one static instance per type.
// - `render` writes the argument at `output.length` according to the directive, completing it for the type
//   (a conversion the type does not allow becomes the type's default). It returns false when the rendering
//   did not fit, after writing as much of it as fits.
// - `toInteger` reads the argument as a "*" width or precision; only meaningful when `isInteger`.
struct ArgumentDescriptor {
  bool (*render)(FormatOutput& output, const FormatDirective& directive, const void* argument);
  std::int64_t (*toInteger)(const void* argument);
  bool isInteger;
};

// The descriptors, one per argument type. Each reads its argument through a pointer to an object of the
// type named in its comment.
extern const ArgumentDescriptor kInt32Argument;       // std::int32_t; "%d", also c i o u x X
extern const ArgumentDescriptor kUInt32Argument;      // std::uint32_t; "%u", also c d i o x X
extern const ArgumentDescriptor kCharArgument;        // signed char; "%c", also d i o u x X
extern const ArgumentDescriptor kInt64Argument;       // std::int64_t; "%lld", also c i o u x X
extern const ArgumentDescriptor kUInt64Argument;      // std::uint64_t; "%llu", also c d i o x X
extern const ArgumentDescriptor kDoubleArgument;      // double; "%g", also a e f G A E F
extern const ArgumentDescriptor kTextArgument;        // const char*, NUL-terminated; null reads "(null)"
extern const ArgumentDescriptor kStringArgument;      // std::string_view (string objects); "%s"
extern const ArgumentDescriptor kApiVersionArgument;  // ApiVersion; "%s" of its text form
extern const ArgumentDescriptor kTextPairArgument;    // FormatTextPair; "%s" of "first:second"

// A pair of texts as an argument: it renders as the first text, ":" and the second text.
struct FormatTextPair {
  std::string_view first;
  std::string_view second;
};

// Renders `templ` with the `count` arguments into `out`, a buffer of `size` bytes, and returns the number of
// characters written; the text is always NUL-terminated, so at most `size - 1` characters are written. With
// `size` 0 nothing is written and 0 is returned. `descriptors[i]` describes `arguments[i]`; neither array is
// read beyond `count` entries. A null template renders as empty text.
//
// Directives: "%%" writes "%". "%N", N from 1 to `count` without a "$" after it, renders argument N in its
// default form; "%N$" continues with a printf spec for argument N. Any other directive is a printf spec
// (flags "-+ #0", width and precision as digits, "*" or "*M$", length modifier, then one conversion
// character) for the next argument in order. The output ends at a directive that is longer than 59
// characters, refers to a missing argument or takes a "*" value from an argument that is not an integer.
// Example: FormatBuffer(buffer, 64, "%2 before %1", ...) with "a", "b" writes "b before a".
std::size_t FormatBuffer(char* out, std::size_t size, const char* templ,
                         const ArgumentDescriptor* const* descriptors, const void* const* arguments,
                         int count);

namespace FormatDetail {

template <class T>
inline constexpr bool kUnsupportedArgument = false;

template <class T>
struct IsPair : std::false_type {};
template <class A, class B>
struct IsPair<std::pair<A, B>> : std::true_type {};

// What a null text pointer renders as.
inline constexpr std::string_view kNullText = "(null)";

// The characters of a text argument; a null pointer reads kNullText.
[[nodiscard]] inline std::string_view TextView(const char* text) {
  return text != nullptr ? std::string_view(text) : kNullText;
}
[[nodiscard]] inline std::string_view TextView(std::string_view text) {
  return text;
}

// The argument in the form its descriptor reads: integers become one of the four integer types, floating
// point becomes double, string objects and character arrays become std::string_view, pairs of texts become
// FormatTextPair. An ApiVersion stays a reference to the caller's object.
template <class T>
[[nodiscard]] decltype(auto) Canonical(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return static_cast<std::int32_t>(value);
  } else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, signed char>) {
    return static_cast<signed char>(value);
  } else if constexpr (std::is_integral_v<T>) {
    if constexpr (sizeof(T) <= 4 && std::is_signed_v<T>) return static_cast<std::int32_t>(value);
    if constexpr (sizeof(T) <= 4 && !std::is_signed_v<T>) return static_cast<std::uint32_t>(value);
    if constexpr (sizeof(T) > 4 && std::is_signed_v<T>) return static_cast<std::int64_t>(value);
    if constexpr (sizeof(T) > 4 && !std::is_signed_v<T>) return static_cast<std::uint64_t>(value);
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<double>(value);
  } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
    return static_cast<const char*>(value);
  } else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_extent_t<T>, char>) {
    return std::string_view(value, ::strnlen(value, std::extent_v<T>));
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    return std::string_view(value);
  } else if constexpr (std::is_same_v<T, ApiVersion>) {
    return (value);
  } else if constexpr (IsPair<T>::value) {
    return FormatTextPair{TextView(value.first), TextView(value.second)};
  } else {
    static_assert(kUnsupportedArgument<T>, "no message format descriptor for this argument type");
  }
}

// The descriptor of a canonical argument type.
template <class C>
[[nodiscard]] constexpr const ArgumentDescriptor* DescriptorOf() {
  if constexpr (std::is_same_v<C, std::int32_t>) return &kInt32Argument;
  if constexpr (std::is_same_v<C, std::uint32_t>) return &kUInt32Argument;
  if constexpr (std::is_same_v<C, signed char>) return &kCharArgument;
  if constexpr (std::is_same_v<C, std::int64_t>) return &kInt64Argument;
  if constexpr (std::is_same_v<C, std::uint64_t>) return &kUInt64Argument;
  if constexpr (std::is_same_v<C, double>) return &kDoubleArgument;
  if constexpr (std::is_same_v<C, const char*>) return &kTextArgument;
  if constexpr (std::is_same_v<C, std::string_view>) return &kStringArgument;
  if constexpr (std::is_same_v<C, ApiVersion>) return &kApiVersionArgument;
  if constexpr (std::is_same_v<C, FormatTextPair>) return &kTextPairArgument;
}

// The size of the stack buffer of `FormatString`; a formatted text holds at most one character less.
inline constexpr std::size_t kFormatStringBuffer = 4096;

template <class... C>
[[nodiscard]] std::string FormatCanonical(const char* templ, const C&... canonical) {
  const ArgumentDescriptor* const descriptors[] = {DescriptorOf<C>()..., nullptr};
  const void* const arguments[] = {static_cast<const void*>(&canonical)..., nullptr};
  char buffer[kFormatStringBuffer];
  const std::size_t length =
      FormatBuffer(buffer, sizeof buffer, templ, descriptors, arguments, static_cast<int>(sizeof...(C)));
  return std::string(buffer, length);
}

}  // namespace FormatDetail

// Renders `templ` with typed arguments as `FormatBuffer` does, into at most 4095 characters. Arguments may
// be integers of any size (bool counts as 1 or 0, char and signed char are characters), float or double,
// NUL-terminated texts, string objects, ApiVersion and pairs of texts; the descriptor of each is chosen at
// compile time. Example: FormatString("%1 is not compatible with %2", "gox-loadouts", version).
template <class... Args>
[[nodiscard]] std::string FormatString(const char* templ, const Args&... args) {
  return FormatDetail::FormatCanonical(templ, FormatDetail::Canonical(args)...);
}

// A named field's value: none, bool, 64-bit signed, 64-bit unsigned, double or text.
using NamedValue = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string>;

// The named fields of a failure, by name. The error code of a failure is kept here as "errorCode_int".
using FieldMap = std::unordered_map<std::string, NamedValue>;

namespace FormatDetail {

[[nodiscard]] NamedValue NamedValueOf(std::int32_t value);
[[nodiscard]] NamedValue NamedValueOf(std::uint32_t value);
[[nodiscard]] NamedValue NamedValueOf(signed char value);
[[nodiscard]] NamedValue NamedValueOf(std::int64_t value);
[[nodiscard]] NamedValue NamedValueOf(std::uint64_t value);
[[nodiscard]] NamedValue NamedValueOf(double value);
[[nodiscard]] NamedValue NamedValueOf(const char* text);
[[nodiscard]] NamedValue NamedValueOf(std::string_view text);
[[nodiscard]] NamedValue NamedValueOf(const ApiVersion& version);
[[nodiscard]] NamedValue NamedValueOf(const FormatTextPair& pair);

}  // namespace FormatDetail

// The named value of a format argument: bool stays bool, signed integers become 64-bit signed, unsigned
// ones 64-bit unsigned, floating point double; a character, a text, an ApiVersion (its text form) and a
// pair ("first:second") become text; a null text pointer becomes none.
template <class T>
[[nodiscard]] NamedValue ToNamedValue(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return NamedValue(value);
  } else {
    return FormatDetail::NamedValueOf(FormatDetail::Canonical(value));
  }
}

// Rewrites the named template `templ` into a positional template and records its placeholders as fields.
// Placeholders and printf directives are numbered 1, 2, 3 ... in order; placeholder N takes `values[N - 1]`
// and becomes "%N", or "%N$spec" with a print spec. Outside braces "{{" and "}}" stand for braces, a lone
// "}" for itself, and "%%" and printf directives are copied for the positional pass.
// Inside braces, "{#name}" appends the value's type suffix to the field name, "!" makes the placeholder
// silent (it writes nothing and removes the whitespace before it), ":spec" gives the print spec,
// "@str" / "@hex" convert the value, "?text" is written instead when the value is false, zero or empty,
// and "\" takes the next character literally. A placeholder beyond `count` values vanishes; one that the
// template leaves unclosed vanishes too. A recorded field replaces an earlier one of the same name.
// Example: "Error response for {method} {url}: {error}" becomes "Error response for %1 %2: %3" with the
// fields method, url and error.
[[nodiscard]] std::string ExpandNamedTemplate(std::string_view templ, const NamedValue* values,
                                              std::size_t count, FieldMap& fields);

// Expands the named template `templ` with the arguments' named values, records the fields in `fields` and
// renders the positional form with the same arguments, as a failure builds its message.
template <class... Args>
[[nodiscard]] std::string FormatNamed(std::string_view templ, FieldMap& fields, const Args&... args) {
  const NamedValue values[] = {ToNamedValue(args)..., NamedValue()};
  const std::string positional = ExpandNamedTemplate(templ, values, sizeof...(Args), fields);
  return FormatString(positional.c_str(), args...);
}

}  // namespace Quarn
