#include "tools/gox_host/event_hub.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace GoxHostApp {
namespace {

using std::chrono::milliseconds;

GoxHost::QueuedEvent Event(const char* name, const char* payload) {
  return GoxHost::QueuedEvent{name, GoxHost::JsonValue::Parse(payload).value()};
}

TEST(EventHubTest, EventsBecomeOneJsonLineEach) {
  struct Case {
    const char* name;
    const char* payload;
    const char* line;
  };
  const Case cases[] = {
      {"OnJsonApiEvent_gox-login_v1_session",
       R"({"uri":"/gox-login/v1/session","eventType":"Delete","data":null})",
       R"({"event":"OnJsonApiEvent_gox-login_v1_session","uri":"/gox-login/v1/session","eventType":"Delete","data":null})"},
      {"OnJsonApiEvent", R"({"data":{"a":[1]},"eventType":"Update","uri":"/x"})",
       R"({"event":"OnJsonApiEvent","uri":"/x","eventType":"Update","data":{"a":[1]}})"},
      {"OnJsonApiEvent", R"({"uri":"/x","eventType":"Update"})",
       R"({"event":"OnJsonApiEvent","uri":"/x","eventType":"Update","data":null})"},
      {"OnServiceProxyUuidEvent", R"({"uuid":"1","payload":"{}"})",
       R"({"event":"OnServiceProxyUuidEvent","data":{"uuid":"1","payload":"{}"}})"},
      {"Plain", "[1,\"a\\nb\"]", R"({"event":"Plain","data":[1,"a\nb"]})"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EventJson(Event(c.name, c.payload)), c.line) << c.name;
}

TEST(EventHubTest, EachStreamGetsEveryEventAndASlowOneLosesTheOldest) {
  EventHub hub(2, 3);
  auto fast = hub.Open();
  auto slow = hub.Open();
  ASSERT_TRUE(fast && slow);
  EXPECT_EQ(hub.Open(), nullptr);  // no more than two streams
  std::size_t dropped = 0;
  for (int i = 0; i < 5; ++i) {
    hub.Publish(Event("E", std::to_string(i).c_str()));
    EXPECT_EQ(fast->Next(milliseconds(0), &dropped), R"({"event":"E","data":)" + std::to_string(i) + "}");
    EXPECT_EQ(dropped, 0u);
  }
  // The slow stream kept the last three and was told that two were dropped.
  EXPECT_EQ(slow->Next(milliseconds(0), &dropped), R"({"event":"E","data":2})");
  EXPECT_EQ(dropped, 2u);
  EXPECT_EQ(slow->Next(milliseconds(0), &dropped), R"({"event":"E","data":3})");
  EXPECT_EQ(dropped, 0u);
  EXPECT_EQ(slow->Next(milliseconds(0), &dropped), R"({"event":"E","data":4})");
  EXPECT_EQ(slow->Next(milliseconds(1), &dropped), "");

  hub.Close(slow);
  EXPECT_EQ(hub.OpenStreams(), 1u);
  EXPECT_NE(hub.Open(), nullptr);
}

}  // namespace
}  // namespace GoxHostApp
