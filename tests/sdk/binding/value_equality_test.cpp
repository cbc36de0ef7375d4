#include "sdk/binding/value_equality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace Quarn {
namespace {

using Builder = std::function<void(BindingProperty&)>;

BindingProperty Build(const Builder& build) {
  BindingProperty value;
  build(value);
  return value;
}

TEST(ValueEqualityTest, ComparesKindAndContentThroughTheWholeTree) {
  struct Case {
    const char* what;
    Builder left;
    Builder right;
    bool same;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"two empties", [](BindingProperty&) {}, [](BindingProperty&) {}, true},
      {"signed 1 is not unsigned 1", [](BindingProperty& v) { v.SetSigned(1); },
       [](BindingProperty& v) { v.SetUnsigned(1); }, false},
      {"NaN equals NaN", [nan](BindingProperty& v) { v.SetFloat(nan); },
       [nan](BindingProperty& v) { v.SetFloat(nan); }, true},
      {"different texts", [](BindingProperty& v) { v.SetString("a"); },
       [](BindingProperty& v) { v.SetString("b"); }, false},
      {"same fields built in another order",
       [](BindingProperty& v) {
         v.Field("b").SetSigned(2);
         v.Field("a").SetString("x");
       },
       [](BindingProperty& v) {
         v.Field("a").SetString("x");
         v.Field("b").SetSigned(2);
       },
       true},
      {"one field name differs", [](BindingProperty& v) { v.Field("a").SetSigned(1); },
       [](BindingProperty& v) { v.Field("b").SetSigned(1); }, false},
      {"deep difference in a collection",
       [](BindingProperty& v) { v.Element(1).Field("x").Element(0).SetBool(true); },
       [](BindingProperty& v) { v.Element(1).Field("x").Element(0).SetBool(false); }, false},
      {"collection lengths differ", [](BindingProperty& v) { v.Element(1); },
       [](BindingProperty& v) { v.Element(2); }, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameValue(Build(c.left), Build(c.right)), c.same) << c.what;
  }
}

}  // namespace
}  // namespace Quarn
