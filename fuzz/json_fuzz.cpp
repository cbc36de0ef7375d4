// Arbitrary bytes through the JSON decoder, and every value it accepts through the encoder and back.
//
// Checks: the NUL-terminated and the sized entry points agree; an accepted value encodes, compact and
// pretty, to text that decodes again to the same tree, with the same kinds, texts and shape. Floats are
// read at RapidJSON's normal precision, which may land a few units in the last place away from the
// double that was written, so they are held to that; compact and pretty text of one value decode to
// exactly the same tree. "-0" decodes as signed 0, which is written "0" and so reads back as unsigned 0.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "sdk/binding/value_equality.h"
#include "sdk/serialization/json_decoder.h"
#include "sdk/serialization/json_encoder.h"

namespace {

using Quarn::BindingKind;
using Quarn::BindingProperty;

// Units in the last place a float may move through one encoding and normal-precision reading.
constexpr double kFloatUlps = 4;

bool CloseFloats(double a, double b) {
  if (std::signbit(a) != std::signbit(b)) return false;
  const double magnitude = std::max(std::fabs(a), std::fabs(b));
  const double ulp = std::nextafter(magnitude, std::numeric_limits<double>::infinity()) - magnitude;
  return std::fabs(a - b) <= kFloatUlps * ulp;
}

// SameValue, but floats need only be close.
bool SameTree(const BindingProperty& left, const BindingProperty& right) {
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&left, &right}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (a->GetSigned(1) == 0 && b->GetUnsigned(1) == 0) continue;
    if (a->Kind() != b->Kind() || a->Count() != b->Count()) return false;
    switch (a->Kind()) {
      case BindingKind::Float:
        if (!CloseFloats(a->GetFloat(0), b->GetFloat(0))) return false;
        break;
      case BindingKind::Collection:
        for (std::size_t i = 0; i < a->Count(); ++i)
          pending.emplace_back(&a->Element(i), &b->Element(i));
        break;
      case BindingKind::Structure:
        for (std::size_t i = 0; i < a->Count(); ++i) {
          if (a->FieldAt(i).name != b->FieldAt(i).name) return false;
          pending.emplace_back(&a->FieldAt(i).value, &b->FieldAt(i).value);
        }
        break;
      default:
        if (!Quarn::SameValue(*a, *b)) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Quarn;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ConversionResult first = DecodeJson(text.c_str());
  const ConversionResult sized = DecodeJson(text.data(), text.size());
  if (first.Ok() != sized.Ok() || first.Message() != sized.Message()) std::abort();
  if (!first.Ok()) return 0;
  if (!SameValue(first.Value(), sized.Value())) std::abort();

  const std::string compact = EncodeJson(first.Value());
  if (first.Value().Kind() == BindingKind::Empty) {
    if (!compact.empty()) std::abort();
    return 0;
  }
  const ConversionResult second = DecodeJson(compact);
  if (!second.Ok() || !SameTree(first.Value(), second.Value())) std::abort();
  for (const char* separator : {"\n", "\r\n"}) {
    const ConversionResult pretty = DecodeJson(EncodeJson(first.Value(), nullptr, separator));
    if (!pretty.Ok() || !SameValue(second.Value(), pretty.Value())) std::abort();
  }
  return 0;
}
