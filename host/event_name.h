// The name under which the host announces a change of a resource.

#pragma once

#include <string>
#include <string_view>

namespace GoxHost {

// The name of the change event of the resource at `path`: "OnJsonApiEvent" followed by the path's
// first three non-empty segments (five for paths under "gox-platform-config"), joined with "_".
//
//   ResourceEventName("/gox-login/v1/session")        // "OnJsonApiEvent_gox-login_v1_session"
//   ResourceEventName("/gox-gameflow/v1/session/x")   // "OnJsonApiEvent_gox-gameflow_v1_session"
[[nodiscard]] std::string ResourceEventName(std::string_view path);

}  // namespace GoxHost
