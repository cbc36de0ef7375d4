// The one test by which every operation judges a remote service's answer.

#include "loadouts/service_client.h"

#include <gtest/gtest.h>

namespace Quarn::Client::Loadouts {
namespace {

TEST(ServiceClientTest, AnAnswerFailsOnAnyOfItsFourSigns) {
  struct Case {
    const char* name;
    std::int32_t result;
    std::int32_t status;
    bool conversionFailed;
    const char* message;
    bool failed;
  };
  const Case cases[] = {
      {"200", 0, 200, false, "", false},
      {"204", 0, 204, false, "", false},
      {"299", 0, 299, false, "", false},
      {"199", 0, 199, false, "", true},
      {"100", 0, 100, false, "", true},
      {"no status", 0, 0, false, "", true},
      {"negative status", 0, -200, false, "", true},
      {"300", 0, 300, false, "", true},
      {"404", 0, 404, false, "", true},
      {"not connected", -1, 200, false, "", true},
      {"timed out", 2, 200, false, "", true},
      {"conversion failed with 200", 0, 200, true, "", true},
      {"message with 200", 0, 200, false, "headers lost", true},
      {"message with 204", 0, 204, false, "x", true},
  };
  for (const Case& c : cases) {
    ExternalResponse response;
    response.result = c.result;
    response.status = c.status;
    response.conversionFailed = c.conversionFailed;
    response.message = c.message;
    EXPECT_EQ(ResponseFailed(response), c.failed) << c.name;
  }
}

}  // namespace
}  // namespace Quarn::Client::Loadouts
