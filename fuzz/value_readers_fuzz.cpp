// Arbitrary texts through the number and enumerator readers: a read either fails with a message or gives
// a value inside the bounds it was given, and reading the value's own decimal text gives it back.
//
// Input: one byte choosing the bounds, then the text.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "sdk/binding/type_registry.h"
#include "sdk/binding/value_readers.h"

namespace {

enum class Letter : std::int32_t {};

}  // namespace

template <>
struct Quarn::TypeTraits<Letter> : Quarn::EnumTypeTraits<0x7E5700F1> {};

namespace {

const Quarn::TypeInfo* LetterType() {
  static Quarn::TypeRegistry registry;
  static const Quarn::TypeInfo* type = &registry.RegisterType<Letter>("Letter")
                                            .AddEnumValue("A", 0)
                                            .AddEnumValue("B", -1)
                                            .AddEnumValue("C", 7)
                                            .Info();
  return type;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Quarn;
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  BindingProperty input;
  input.SetString(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  const std::int64_t minimum = (choice & 1) != 0 ? -2147483648LL : std::numeric_limits<std::int64_t>::min();
  const std::int64_t maximum = (choice & 1) != 0 ? 2147483647LL : std::numeric_limits<std::int64_t>::max();
  ConversionResult signedResult;
  const std::int64_t signedValue = ReadSigned(signedResult, input, "v", minimum, maximum, "int");
  Check(signedResult.Ok() ? signedValue >= minimum && signedValue <= maximum
                          : !signedResult.Message().empty());
  if (signedResult.Ok()) {
    BindingProperty again;
    again.SetString(std::to_string(signedValue));
    ConversionResult againResult;
    Check(ReadSigned(againResult, again, "v", minimum, maximum, "int") == signedValue && againResult.Ok());
  }

  const std::uint64_t unsignedMaximum = (choice & 2) != 0 ? 4294967295ULL : ~0ULL;
  ConversionResult unsignedResult;
  const std::uint64_t unsignedValue = ReadUnsigned(unsignedResult, input, "v", unsignedMaximum, "uint");
  Check(unsignedResult.Ok() ? unsignedValue <= unsignedMaximum : !unsignedResult.Message().empty());

  const double floatMaximum = (choice & 4) != 0 ? 3.4028234663852886e38 : std::numeric_limits<double>::max();
  ConversionResult floatResult;
  const double floatValue = ReadFloating(floatResult, input, "v", -floatMaximum, floatMaximum, "double");
  Check(!floatResult.Ok() || floatValue != floatValue ||
        (floatValue >= -floatMaximum && floatValue <= floatMaximum));

  ConversionResult enumResult;
  const std::int32_t enumValue = ReadEnum(enumResult, input, "v", LetterType());
  Check(!enumResult.Ok() || enumValue == 0 || enumValue == -1 || enumValue == 7);
  return 0;
}
