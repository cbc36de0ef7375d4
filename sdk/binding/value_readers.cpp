#include "sdk/binding/value_readers.h"

#include <locale.h>
#include <stdlib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "sdk/binding/type_registry.h"

namespace Quarn {
namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

// The classic "C" locale, so that number texts read the same whatever the process locale is; null when
// it cannot be had, and then the functions of the current locale read the texts.
locale_t ClassicLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

long long ReadSignedText(const char* begin, char** end) {
  const locale_t locale = ClassicLocale();
  return locale != locale_t{} ? strtoll_l(begin, end, 0, locale) : std::strtoll(begin, end, 0);
}

unsigned long long ReadUnsignedText(const char* begin, char** end) {
  const locale_t locale = ClassicLocale();
  return locale != locale_t{} ? strtoull_l(begin, end, 0, locale) : std::strtoull(begin, end, 0);
}

double ReadFloatText(const char* begin, char** end) {
  const locale_t locale = ClassicLocale();
  return locale != locale_t{} ? strtod_l(begin, end, locale) : std::strtod(begin, end);
}

// What one of the strtoX functions made of a text.
template <class T>
struct ParsedText {
  T value{};
  bool complete = false;  // nothing left after the number
  bool overflow = false;  // beyond the type's range
};

// Runs parse(begin, &end) on a NUL-terminated copy of text; a NUL inside the text counts as left over.
template <class T, class Parse>
ParsedText<T> ParseText(std::string_view text, Parse parse) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  ParsedText<T> parsed;
  parsed.value = parse(copy.c_str(), &end);
  parsed.overflow = errno == ERANGE;
  parsed.complete = end == copy.c_str() + copy.size();
  return parsed;
}

// Reads a number text with parse(begin, &end): leftover characters are a format failure, a value that
// overflows or that inRange refuses a range failure.
template <class T, class Parse, class InRange>
T ReadNumberText(ConversionResult& result, std::string_view text, std::string_view name,
                 std::string_view typeName, Parse parse, InRange inRange) {
  const auto parsed = ParseText<T>(text, parse);
  if (!parsed.complete) {
    FailWith(result, kNumberFormatMessage, text, name, typeName);
  } else if (parsed.overflow || !inRange(parsed.value)) {
    FailWith(result, kNumberRangeMessage, text, name, typeName);
  } else {
    return parsed.value;
  }
  return 0;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether the text's number carries a minus sign, after the white space strtoull skips.
bool HasMinusSign(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  return i < text.size() && text[i] == '-';
}

void FailKind(ConversionResult& result, std::string_view name, std::string_view typeName,
              const BindingProperty& input) {
  FailWith(result, kNumberKindMessage, name, typeName, BindingProperty::KindName(input.Kind()));
}

// x within [minimum, maximum] compared exactly, then truncated toward zero. NaN and values whose
// truncation leaves the 64-bit range are refused.
bool TruncateSigned(double x, std::int64_t minimum, std::int64_t maximum, std::int64_t& out) {
  if (std::isnan(x)) return false;
  const double whole = std::trunc(x);
  if (whole < -kTwoPow63 || whole >= kTwoPow63) return false;
  const auto value = static_cast<std::int64_t>(whole);
  if (value < minimum || value > maximum) return false;
  if ((value == minimum && x < whole) || (value == maximum && x > whole)) return false;
  out = value;
  return true;
}

bool TruncateUnsigned(double x, std::uint64_t maximum, std::uint64_t& out) {
  if (std::isnan(x) || x < 0) return false;
  const double whole = std::trunc(x);
  if (whole >= kTwoPow64) return false;
  const auto value = static_cast<std::uint64_t>(whole);
  if (value > maximum || (value == maximum && x > whole)) return false;
  out = value;
  return true;
}

// A signed value within [minimum, maximum] for ReadSigned.
bool SignedInRange(std::int64_t value, std::int64_t minimum, std::int64_t maximum) {
  return value >= minimum && value <= maximum;
}

// ReadFloating's bounds for integers: checked only where the bound lies within the integer's range.
bool SignedFitsFloating(std::int64_t value, double minimum, double maximum) {
  const auto x = static_cast<double>(value);
  return !((minimum >= -kTwoPow63 && x < minimum) || (maximum <= kTwoPow63 && x > maximum));
}

}  // namespace

bool ReadBool(ConversionResult& result, const BindingProperty& input, std::string_view name) {
  if (!result.Ok()) return false;
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return false;
    case BindingKind::Bool:
      return input.GetBool(false);
    case BindingKind::String: {
      const std::string_view text = input.GetString({});
      if (text == "true" || text == "1") return true;
      if (text == "false" || text == "0") return false;
      FailWith(result, kBoolFormatMessage, text, name);
      return false;
    }
    default:
      FailWith(result, kBoolKindMessage, name, BindingProperty::KindName(input.Kind()));
      return false;
  }
}

std::int64_t ReadSigned(ConversionResult& result, const BindingProperty& input, std::string_view name,
                        std::int64_t minimum, std::int64_t maximum, std::string_view typeName) {
  if (!result.Ok()) return 0;
  std::int64_t out = 0;
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return 0;
    case BindingKind::Signed: {
      const std::int64_t value = input.GetSigned(0);
      if (SignedInRange(value, minimum, maximum)) return value;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Unsigned: {
      const std::uint64_t value = input.GetUnsigned(0);
      if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
          SignedInRange(static_cast<std::int64_t>(value), minimum, maximum))
        return static_cast<std::int64_t>(value);
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Float: {
      const double value = input.GetFloat(0);
      if (TruncateSigned(value, minimum, maximum, out)) return out;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Enum: {
      const std::int32_t value = input.GetEnum({}).value;
      if (SignedInRange(value, minimum, maximum)) return value;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString({});
      return ReadNumberText<long long>(result, text, name, typeName, ReadSignedText, [&](long long value) {
        return SignedInRange(value, minimum, maximum);
      });
    }
    default:
      FailKind(result, name, typeName, input);
      return 0;
  }
}

std::uint64_t ReadUnsigned(ConversionResult& result, const BindingProperty& input, std::string_view name,
                           std::uint64_t maximum, std::string_view typeName) {
  if (!result.Ok()) return 0;
  std::uint64_t out = 0;
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return 0;
    case BindingKind::Signed: {
      const std::int64_t value = input.GetSigned(0);
      if (value >= 0 && static_cast<std::uint64_t>(value) <= maximum)
        return static_cast<std::uint64_t>(value);
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Unsigned: {
      const std::uint64_t value = input.GetUnsigned(0);
      if (value <= maximum) return value;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Float: {
      const double value = input.GetFloat(0);
      if (TruncateUnsigned(value, maximum, out)) return out;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Enum: {
      const std::int32_t value = input.GetEnum({}).value;
      if (value >= 0 && static_cast<std::uint64_t>(value) <= maximum)
        return static_cast<std::uint64_t>(value);
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString({});
      return ReadNumberText<unsigned long long>(
          result, text, name, typeName, ReadUnsignedText,
          [&](unsigned long long value) { return value <= maximum && !HasMinusSign(text); });
    }
    default:
      FailKind(result, name, typeName, input);
      return 0;
  }
}

double ReadFloating(ConversionResult& result, const BindingProperty& input, std::string_view name,
                    double minimum, double maximum, std::string_view typeName) {
  if (!result.Ok()) return 0;
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return 0;
    case BindingKind::Signed: {
      const std::int64_t value = input.GetSigned(0);
      if (SignedFitsFloating(value, minimum, maximum)) return static_cast<double>(value);
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Unsigned: {
      const std::uint64_t value = input.GetUnsigned(0);
      const auto x = static_cast<double>(value);
      if (!(maximum <= kTwoPow64 && x > maximum)) return x;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Float: {
      const double value = input.GetFloat(0);
      if (!(value < minimum || value > maximum)) return value;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::Enum: {
      const std::int32_t value = input.GetEnum({}).value;
      if (SignedFitsFloating(value, minimum, maximum)) return value;
      FailWith(result, kNumberRangeMessage, value, name, typeName);
      return 0;
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString({});
      // strtod reports underflow as a range error too; only overflow leaves the double range.
      return ReadNumberText<double>(
          result, text, name, typeName,
          [](const char* begin, char** end) {
            const double value = ReadFloatText(begin, end);
            if (errno == ERANGE && !std::isinf(value)) errno = 0;
            return value;
          },
          [&](double value) { return !(value < minimum || value > maximum); });
    }
    default:
      FailKind(result, name, typeName, input);
      return 0;
  }
}

std::string ReadString(ConversionResult& result, const BindingProperty& input, std::string_view name,
                       const TypeRegistry* registry) {
  if (!result.Ok()) return {};
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return {};
    case BindingKind::String:
      return std::string(input.GetString({}));
    case BindingKind::Enum: {
      const EnumValue value = input.GetEnum({});
      if (registry != nullptr && value.type != nullptr) {
        if (auto found = registry->FindEnumName(value.type->id, value.value)) return std::move(*found);
      }
      FailWith(result, kEnumNameMessage, value.value, name);
      return {};
    }
    default:
      FailWith(result, kStringKindMessage, name);
      return {};
  }
}

namespace {

// The enumerator of type whose value is value.
bool HasEnumerator(const TypeInfo* type, std::int32_t value) {
  if (type == nullptr) return false;
  for (const auto& [enumeratorName, enumerator] : type->values) {
    if (enumerator.value == value) return true;
  }
  return false;
}

std::string_view EnumTypeName(const TypeInfo* type) {
  return type != nullptr ? std::string_view(type->name) : NativeKindName(NativeKind::Enum);
}

}  // namespace

std::int32_t ReadEnum(ConversionResult& result, const BindingProperty& input, std::string_view name,
                      const TypeInfo* type) {
  if (!result.Ok()) return 0;
  const std::string_view typeName = EnumTypeName(type);
  const auto accept = [&](std::int32_t candidate, const auto& quoted) -> std::int32_t {
    if (HasEnumerator(type, candidate)) return candidate;
    FailWith(result, kEnumValueMessage, quoted, typeName, name);
    return 0;
  };
  switch (input.Kind()) {
    case BindingKind::Empty:
      FailWith(result, kValueRequiredMessage, name);
      return 0;
    case BindingKind::Signed: {
      const std::int64_t value = input.GetSigned(0);
      return accept(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)), value);
    }
    case BindingKind::Unsigned: {
      const std::uint64_t value = input.GetUnsigned(0);
      return accept(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)), value);
    }
    case BindingKind::Enum: {
      const std::int32_t value = input.GetEnum({}).value;
      return accept(value, value);
    }
    case BindingKind::String: {
      const std::string_view text = input.GetString({});
      if (type != nullptr) {
        const auto found = type->values.find(text);
        if (found != type->values.end()) return found->second.value;
      }
      // A number text is tried in a scratch result, whose own message never shows.
      ConversionResult number;
      const std::int64_t value = ReadSigned(number, input, name, std::numeric_limits<std::int64_t>::min(),
                                            std::numeric_limits<std::int64_t>::max(), typeName);
      const auto candidate = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
      if (number.Ok() && HasEnumerator(type, candidate)) return candidate;
      FailWith(result, kEnumValueMessage, text, typeName, name);
      return 0;
    }
    default:
      FailWith(result, kEnumKindMessage, name, BindingProperty::KindName(input.Kind()));
      return 0;
  }
}

void ReadObject(ConversionResult& result, BindingProperty& target, const BindingProperty& input,
                std::string_view name) {
  if (!result.Ok()) return;
  // Assignment copies before it releases, so input may lie inside target.
  target = input;
  // A copy cut short by the heap is not the value that was read.
  if (target.AllocationFailed()) {
    target = BindingProperty();
    FailWith(result, kObjectOutOfMemoryMessage, name);
  }
}

}  // namespace Quarn
