// Which stored values name which item ids.

#include "services/item_ownership.h"

#include <gtest/gtest.h>

namespace GoxServices {
namespace {

TEST(ItemIdsTest, FindsTheIdsInEveryShapeAndRefusesOtherLeaves) {
  struct Case {
    const char* json;
    std::optional<std::vector<std::int64_t>> ids;
  };
  const Case cases[] = {
      {"7", std::vector<std::int64_t>{7}},
      {"[1,2,3]", std::vector<std::int64_t>{1, 2, 3}},
      {"[]", std::vector<std::int64_t>{}},
      {"{}", std::vector<std::int64_t>{}},
      {R"({"itemId":5})", std::vector<std::int64_t>{5}},
      {R"({"itemId":5,"count":"ignored"})", std::vector<std::int64_t>{5}},
      {R"([{"itemId":5},{"itemId":6}])", std::vector<std::int64_t>{5, 6}},
      {R"({"slot1":1,"slot2":[2,{"itemId":3}]})", std::vector<std::int64_t>{1, 2, 3}},
      {"-4", std::vector<std::int64_t>{-4}},
      {"null", std::nullopt},
      {"true", std::nullopt},
      {R"("10")", std::nullopt},
      {"1.5", std::nullopt},
      {"18446744073709551615", std::nullopt},
      {R"([1,null])", std::nullopt},
      {R"({"itemId":"5"})", std::nullopt},
      {R"({"slot":{"name":"x"}})", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ItemIds(GoxHost::JsonValue::Parse(c.json).value().Get()), c.ids) << c.json;
}

}  // namespace
}  // namespace GoxServices
