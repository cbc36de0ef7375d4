#include "sdk/binding/maybe_type.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Quarn {
namespace {

TEST(MaybeTypeTest, HoldsEitherAMoveOnlyValueOrAFailure) {
  MaybeType<std::unique_ptr<int>> value(std::make_unique<int>(42));
  ASSERT_TRUE(value.Ok());
  MaybeType<std::unique_ptr<int>> moved(std::move(value));
  ASSERT_TRUE(moved.Ok());
  EXPECT_EQ(*moved.TakeValue(), 42);

  MaybeType<std::unique_ptr<int>> failed(Failure(500, "broken"));
  ASSERT_TRUE(failed.HasFailure());
  EXPECT_EQ(failed.GetFailure().Code(), 500);
  EXPECT_EQ(failed.TakeFailure().Message(), "broken");
}

TEST(MaybeTypeTest, VoidFormIsOkUntilGivenAFailure) {
  const MaybeType<> ok;
  EXPECT_TRUE(ok.Ok());
  const MaybeType<> failed(Failure("nope"));
  EXPECT_TRUE(failed.HasFailure());
  EXPECT_EQ(failed.GetFailure().Message(), "nope");
}

}  // namespace
}  // namespace Quarn
