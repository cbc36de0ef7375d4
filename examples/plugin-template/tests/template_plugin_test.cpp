// The template module in the test host core: loaded from its file, driven without HTTP.

#include <gtest/gtest.h>

#include "host/host_core.h"

namespace {

constexpr const char* kGreeting = "/gox-template/v1/greeting";
constexpr const char* kGreeted = "/gox-template/v1/greeted";
constexpr const char* kSession = "/gox-login/v1/session";

GoxHost::JsonValue Json(const char* text) {
  return GoxHost::JsonValue::Parse(text).value();
}

class TemplateModule : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetResource(kSession, Json(R"({"puuid":"p-1"})"));
    ASSERT_EQ(host_.Load(GOX_TEMPLATE_MODULE_PATH), GoxHost::LoadStatus::kLoaded) << host_.LoadError();
    ASSERT_TRUE(host_.Initialize());
  }
  void TearDown() override {
    host_.Shutdown();
    for (const std::string& problem : host_.Problems())
      ADD_FAILURE() << problem;
  }

  GoxHost::CallResponse Greet() {
    GoxHost::CallRequest request;
    request.path = kGreeting;
    return host_.Call(kGreeting, kHttpMethodGet, request);
  }

  GoxHost::HostCore host_;
};

TEST_F(TemplateModule, GreetsThePlayerItLearnedAtInitialize) {
  const GoxHost::CallResponse answer = Greet();
  ASSERT_FALSE(answer.error) << *answer.error;
  EXPECT_EQ(answer.body, Json(R"({"greetings":1,"text":"Hello, p-1"})"));
}

TEST_F(TemplateModule, FollowsTheSessionAndPublishesEveryGreeting) {
  host_.PublishResource(kSession, Json(R"({"puuid":"p-2"})"));
  host_.DeliverPendingEvents();
  ASSERT_FALSE(Greet().error);
  const GoxHost::CallResponse second = Greet();
  EXPECT_EQ(second.body, Json(R"({"greetings":2,"text":"Hello, p-2"})"));
  ASSERT_NE(host_.Resource(kGreeted), nullptr);
  EXPECT_EQ(*host_.Resource(kGreeted), Json("2"));

  host_.DeleteResource(kSession);
  host_.DeliverPendingEvents();
  const GoxHost::CallResponse nobody = Greet();
  ASSERT_TRUE(nobody.error);
  EXPECT_EQ(nobody.status, 503);
}

TEST_F(TemplateModule, DescribesItsEndpoint) {
  const GoxHost::EndpointInfo* endpoint = host_.Description().FindEndpoint(kGreeting, kHttpMethodGet);
  ASSERT_NE(endpoint, nullptr);
  EXPECT_EQ(endpoint->module, "gox-template");
}

}  // namespace
