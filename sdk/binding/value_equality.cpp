#include "sdk/binding/value_equality.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Quarn {
namespace {

bool SameScalar(const BindingProperty& left, const BindingProperty& right) {
  switch (left.Kind()) {
    case BindingKind::Empty:
      return true;
    case BindingKind::Bool:
      return left.GetBool(false) == right.GetBool(false);
    case BindingKind::Signed:
      return left.GetSigned(0) == right.GetSigned(0);
    case BindingKind::Unsigned:
      return left.GetUnsigned(0) == right.GetUnsigned(0);
    case BindingKind::Float: {
      const double a = left.GetFloat(0);
      const double b = right.GetFloat(0);
      return a == b || (std::isnan(a) && std::isnan(b));
    }
    case BindingKind::String:
      return left.GetString({}) == right.GetString({});
    case BindingKind::Blob: {
      const auto a = left.GetBlob({});
      const auto b = right.GetBlob({});
      return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    case BindingKind::Enum: {
      const EnumValue a = left.GetEnum({});
      const EnumValue b = right.GetEnum({});
      return a.value == b.value && a.type == b.type;
    }
    default:
      return false;
  }
}

}  // namespace

bool SameValue(const BindingProperty& left, const BindingProperty& right) {
  // Pairs still to compare; an explicit stack keeps deep trees off the call stack.
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&left, &right}};
  while (!pending.empty()) {
    const auto [a, b] = pending.back();
    pending.pop_back();
    if (a->Kind() != b->Kind() || a->Count() != b->Count()) return false;
    if (a->Kind() == BindingKind::Collection) {
      const auto elementsA = a->Elements();
      const auto elementsB = b->Elements();
      for (std::size_t i = 0; i < elementsA.size(); ++i)
        pending.emplace_back(&elementsA[i], &elementsB[i]);
    } else if (a->Kind() == BindingKind::Structure) {
      for (std::size_t i = 0; i < a->Count(); ++i) {
        const auto fieldA = a->FieldAt(i);
        const auto fieldB = b->FieldAt(i);
        if (fieldA.name != fieldB.name) return false;
        pending.emplace_back(&fieldA.value, &fieldB.value);
      }
    } else if (!SameScalar(*a, *b)) {
      return false;
    }
  }
  return true;
}

}  // namespace Quarn
