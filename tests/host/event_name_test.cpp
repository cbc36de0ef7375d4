#include "host/event_name.h"

#include <gtest/gtest.h>

namespace GoxHost {
namespace {

TEST(EventNameTest, KeepsTheFirstSegmentsOfThePath) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"/gox-login/v1/session", "OnJsonApiEvent_gox-login_v1_session"},
      {"/gox-gameflow/v1/session/extra", "OnJsonApiEvent_gox-gameflow_v1_session"},
      {"/gox-platform-config/v1/namespaces/Loadouts/ValidInventoryTypes/x",
       "OnJsonApiEvent_gox-platform-config_v1_namespaces_Loadouts_ValidInventoryTypes"},
      {"//a//b/", "OnJsonApiEvent_a_b"},
      {"gox-login/v1/session", "OnJsonApiEvent_gox-login_v1_session"},
      {"/", "OnJsonApiEvent"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResourceEventName(c.path), c.name) << c.path;
}

}  // namespace
}  // namespace GoxHost
