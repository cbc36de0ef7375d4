#include "sdk/binding/failure.h"

#include <gtest/gtest.h>

#include <string>

namespace Quarn {
namespace {

TEST(FailureTest, CodeIsRecordedAsAFieldOnlyWhenNonZero) {
  const Failure plain("no code");
  EXPECT_EQ(plain.Code(), 0);
  EXPECT_TRUE(plain.Fields().empty());

  const Failure zero(0, "zero code");
  EXPECT_EQ(zero.Code(), 0);
  EXPECT_TRUE(zero.Fields().empty());

  const Failure unavailable(503, "Loadouts not enabled");
  EXPECT_EQ(unavailable.Code(), 503);
  EXPECT_EQ(unavailable.Message(), "Loadouts not enabled");
  ASSERT_EQ(unavailable.Fields().size(), 1u);
  EXPECT_EQ(unavailable.Fields().at(kErrorCodeField), NamedValue(std::int64_t{503}));
}

TEST(FailureTest, PlainMessagesAreTakenAsTheyStand) {
  // A message that is not a template keeps its percent signs and braces.
  const Failure failure(400, "100% of {items} %1");
  EXPECT_EQ(failure.Message(), "100% of {items} %1");
}

TEST(FailureTest, NamedTemplateRecordsEachPlaceholderAndTheCode) {
  const Failure failure(500, "Error response for {method} {url}: {error}", "GET", std::string("http://x/y"),
                        "timed out");
  EXPECT_EQ(failure.Message(), "Error response for GET http://x/y: timed out");
  const FieldMap expected = {{"method", NamedValue(std::string("GET"))},
                             {"url", NamedValue(std::string("http://x/y"))},
                             {"error", NamedValue(std::string("timed out"))},
                             {kErrorCodeField, NamedValue(std::int64_t{500})}};
  EXPECT_EQ(failure.Fields(), expected);
}

TEST(FailureTest, SetCodeReplacesAnEarlierCodeAndIgnoresZero) {
  Failure failure(404, "missing");
  failure.SetCode(0);
  EXPECT_EQ(failure.Code(), 404);
  failure.SetCode(-7);
  EXPECT_EQ(failure.Code(), -7);
  EXPECT_EQ(failure.Fields().at(kErrorCodeField), NamedValue(std::int64_t{-7}));
}

}  // namespace
}  // namespace Quarn
