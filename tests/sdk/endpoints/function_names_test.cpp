#include "sdk/endpoints/function_names.h"

#include <gtest/gtest.h>

namespace Quarn {
namespace {

TEST(FunctionNamesTest, MethodAndTemplateBecomeOneUpperCamelName) {
  struct Case {
    std::uint32_t method;
    const char* pathTemplate;
    const char* name;
  };
  const Case cases[] = {
      {6, "/gox-loadouts/v2/items/{id}/{inventoryType}", "PostGoxLoadoutsV2ItemsByIdByInventoryType"},
      {2, "/gox-loadouts/v1/inventory", "GetGoxLoadoutsV1Inventory"},
      {1, "/a-b/c_d/{id}", "DeleteABCDById"},
      {0, "gox-loadouts", "GoxLoadouts"},
      {8, "/x", "X"},   // a custom method has no text of its own
      {99, "/x", "X"},  // nor has a code the host should never send
      {7, "/a!b+c.d/{+rest}", "PutABCDByRest"},
      {4, "", "Options"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MakeFunctionName(c.method, c.pathTemplate), c.name) << c.pathTemplate;
}

}  // namespace
}  // namespace Quarn
