// Arbitrary templates through both template languages: the formatter must stay inside its buffer and its
// arguments, terminate its output and never hand printf a spec that reads the wrong type.
//
// Input: one byte for the buffer size, then the template.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "sdk/diagnostics/message_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Quarn;
  if (size == 0) return 0;
  const std::size_t bufferSize = data[0];
  const std::string templ(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::int32_t number = -7;
  const char* text = "text";
  const double real = 2.5;
  const std::uint64_t wide = ~std::uint64_t{0};
  const signed char character = 'c';
  const FormatTextPair pair{"first", "second"};
  const ArgumentDescriptor* const descriptors[] = {&kInt32Argument,  &kTextArgument, &kDoubleArgument,
                                                   &kUInt64Argument, &kCharArgument, &kTextPairArgument};
  const void* const arguments[] = {&number, &text, &real, &wide, &character, &pair};

  char* buffer = static_cast<char*>(std::malloc(bufferSize + 1));
  const std::size_t length = FormatBuffer(buffer, bufferSize, templ.c_str(), descriptors, arguments, 6);
  if (bufferSize > 0 && (length >= bufferSize || buffer[length] != '\0')) std::abort();
  std::free(buffer);

  FieldMap fields;
  const std::string rendered = FormatNamed(templ, fields, number, "text", real, wide, false, 0);
  if (rendered.size() >= FormatDetail::kFormatStringBuffer) std::abort();
  return 0;
}
