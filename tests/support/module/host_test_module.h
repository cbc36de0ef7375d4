// The paths of gox-host's test module: a small plugin on PluginBase, built as its own shared library
// and loaded by path, that exercises what gox-host offers a module (calls, failures, publishing,
// resource events, host requests, the service proxy, outside requests, slow calls).

#pragma once

namespace GoxHostTestModule {

inline constexpr const char* kShortName = "gox-hosttest";
inline constexpr const char* kEcho = "/gox-hosttest/v1/echo/{id}";      // GET ?text=: "id:text"
inline constexpr const char* kFail = "/gox-hosttest/v1/fail/{status}";  // GET: fails with status
inline constexpr const char* kItems = "/gox-hosttest/v1/items/{id}";    // POST body: publishes it
inline constexpr const char* kSleep = "/gox-hosttest/v1/sleep/{ms}";    // GET: blocks, then "slept"
inline constexpr const char* kPhase = "/gox-hosttest/v1/phase";         // GET: game-flow phase seen
inline constexpr const char* kTokens = "/gox-hosttest/v1/tokens";       // GET ?type=: tokens of it and BANNER
inline constexpr const char* kCustomize = "/gox-hosttest/v1/customize";  // POST ?token=: service proxy
inline constexpr const char* kExternal = "/gox-hosttest/v1/external";    // GET ?url=: outside request
inline constexpr const char* kSleepingLine = "sleep call begins";        // logged by kSleep
inline constexpr const char* kPublished = "/gox-hosttest/v1/items/";     // + id: published items

}  // namespace GoxHostTestModule
