#include "sdk/binding/conversion_result.h"

#include <gtest/gtest.h>

#include <utility>

namespace Quarn {
namespace {

TEST(ConversionResultTest, FailReplacesTheValueByTheMessage) {
  ConversionResult result;
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.Message(), "");
  result.Value().Append().SetSigned(1);
  result.Value().Append().SetSigned(2);
  result.Fail("Expected a number");
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.Value().Kind(), BindingKind::Structure);
  EXPECT_EQ(result.Value().Count(), 1u);
  EXPECT_EQ(result.Message(), "Expected a number");
  result.Init();
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.Value().Kind(), BindingKind::Empty);
}

TEST(ConversionResultTest, AssignmentCarriesFlagAndValue) {
  ConversionResult failed;
  failed.Fail("first failure");
  ConversionResult target;
  target.Value().SetString("old");
  target = std::move(failed);
  EXPECT_FALSE(target.Ok());
  EXPECT_EQ(target.Message(), "first failure");
  EXPECT_EQ(failed.Value().Kind(), BindingKind::Empty);

  ConversionResult fine;
  fine.Value().SetSigned(7);
  target = std::move(fine);
  EXPECT_TRUE(target.Ok());
  EXPECT_EQ(target.Value().GetSigned(0), 7);
}

}  // namespace
}  // namespace Quarn
