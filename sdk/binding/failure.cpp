#include "sdk/binding/failure.h"

namespace Quarn {

void Failure::SetCode(std::int32_t code) {
  if (code == 0) return;
  code_ = code;
  fields_[kErrorCodeField] = static_cast<std::int64_t>(code);
}

}  // namespace Quarn
