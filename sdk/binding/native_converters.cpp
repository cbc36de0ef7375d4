#include "sdk/binding/native_converters.h"

namespace Quarn {

void ReadBlob(ConversionResult& result, Blob& bytes, const BindingProperty& input, std::string_view name) {
  if (!result.Ok()) return;
  switch (input.Kind()) {
    case BindingKind::Empty:
      return FailWith(result, kValueRequiredMessage, name);
    case BindingKind::Blob: {
      const auto source = input.GetBlob({});
      bytes.assign(source.begin(), source.end());
      return;
    }
    default:
      return FailWith(result, kNumberKindMessage, name, NativeKindName(NativeKind::Blob),
                      BindingProperty::KindName(input.Kind()));
  }
}

}  // namespace Quarn
