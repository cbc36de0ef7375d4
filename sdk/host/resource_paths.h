// Resource paths as events see them: the host event name a path's changes are announced under, and
// the '*' patterns that wildcard listeners use.

#pragma once

#include <string>
#include <string_view>

namespace Quarn {

// The name of the host event that announces changes of resources under `path`.
inline constexpr const char* kResourceEventName = "OnJsonApiEvent";

// "OnJsonApiEvent" followed by the path's first segments, joined with "_": three segments, or five
// when the first is "gox-platform-config". Empty segments (leading, trailing, doubled slashes) do not
// count. Example: "/gox-login/v1/session" gives "OnJsonApiEvent_gox-login_v1_session"; "/" gives
// "OnJsonApiEvent".
[[nodiscard]] std::string EventNameOfPath(std::string_view path);

// Whether `path` matches `pattern`, where '*' stands for a run of characters within one segment,
// never a '/'. The run may be empty before a '/', but a pattern ending in '*' needs at least one
// character there. Example: "/a/*" matches "/a/b" and "/a/bcd", not "/a/" or "/a/b/c"; "/a/*/c" matches
// "/a/x/c" and "/a//c".
[[nodiscard]] bool MatchesResourcePattern(std::string_view pattern, std::string_view path);

}  // namespace Quarn
