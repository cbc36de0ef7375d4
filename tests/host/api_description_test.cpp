#include "host/api_description.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/fake_plugin.h"

namespace GoxHost {
namespace {

TEST(ApiDescriptionTest, ReadsEveryRecordOfASoundDescription) {
  GoxHostTest::FakeDescription records;
  GoxHostTest::BuildFakeDescription(records);
  const ApiDescription api = ReadApiDescription(&records.header);
  EXPECT_TRUE(api.problems.empty()) << api.problems.front();

  const EndpointInfo* echo = api.FindEndpoint(GoxHostTest::kFakeEchoPath, kHttpMethodGet);
  ASSERT_NE(echo, nullptr);
  EXPECT_EQ(echo->name, "GetFakeV1EchoById");
  EXPECT_EQ(echo->context, &records.endpoints[0]);
  ASSERT_EQ(echo->arguments.size(), 2u);
  EXPECT_EQ(echo->arguments[1].name, "verbose");
  EXPECT_TRUE(echo->arguments[1].optional);
  EXPECT_EQ(echo->locations, (std::vector<std::uint32_t>{2, 1}));
  EXPECT_EQ(echo->textLists, (std::vector<std::vector<std::string>>{{"a", "b"}}));
  EXPECT_EQ(echo->tags.size(), 2u);
  EXPECT_EQ(api.FindEndpoint(GoxHostTest::kFakeEchoPath, kHttpMethodPost), nullptr);

  const TypeInfo* item = api.FindType("FakeItem");
  const TypeInfo* color = api.FindType("FakeColor");
  ASSERT_TRUE(item && color);
  EXPECT_EQ(item->fields.size(), 2u);
  EXPECT_EQ(item->fields[1].typeName, "FakeColor");
  EXPECT_TRUE(item->enumerators.empty());
  ASSERT_EQ(color->enumerators.size(), 2u);
  EXPECT_EQ(color->enumerators[0].name, "Blue");
  ASSERT_EQ(api.events.size(), 1u);
  EXPECT_EQ(api.events[0].payloadTypeName, "FakeItem");
}

// Each fault is noted as a problem, and the reader neither follows nor crashes on it.
TEST(ApiDescriptionTest, NotesEveryFaultOfABrokenDescription) {
  struct Case {
    const char* label;
    std::function<void(GoxHostTest::FakeDescription&)> breakIt;
    const char* problem;
  };
  const Case cases[] = {
      {"chain skips", [](auto& d) { d.endpoints[0].next = nullptr; }, "endpoint record 0 does not point"},
      {"last points on", [](auto& d) { d.events[0].next = &d.events[0]; }, "event record 0 is the last"},
      {"null arguments", [](auto& d) { d.endpoints[0].arguments = nullptr; }, "argument array is null"},
      {"null locations", [](auto& d) { d.endpoints[0].locations = nullptr; },
       "argument location array is null"},
      {"null field name", [](auto& d) { d.fields[1].name = nullptr; }, "field record 1 has a null name"},
      {"null tag array", [](auto& d) { d.types[0].tags = nullptr; }, "type tag array is null"},
      {"enumerator chain", [](auto& d) { d.enumerators[0].next = &d.enumerators[0]; },
       "enumerator record 0 does not point"},
  };
  for (const Case& c : cases) {
    GoxHostTest::FakeDescription records;
    GoxHostTest::BuildFakeDescription(records);
    c.breakIt(records);
    const ApiDescription api = ReadApiDescription(&records.header);
    ASSERT_EQ(api.problems.size(), 1u) << c.label;
    EXPECT_NE(api.problems[0].find(c.problem), std::string::npos) << c.label << ": " << api.problems[0];
  }
  EXPECT_EQ(ReadApiDescription(nullptr).problems.size(), 1u);
}

}  // namespace
}  // namespace GoxHost
