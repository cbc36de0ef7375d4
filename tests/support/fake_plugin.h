// A tiny module written against the boundary records alone, for testing the stand-in host core.
//
// Its entry accepts host versions 18.x.y (at least 18.0.0), answers 18.0.0 and hands over a small
// hand-built API description: two endpoints, a structure, an enumeration and an event. What its
// Initialize, endpoints and event callback do is scripted by the test through FakePlugin().

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/json_value.h"
#include "plugin/plugin_abi.h"

namespace GoxHostTest {

inline constexpr const char* kFakeEchoPath = "/fake/v1/echo/{id}";
inline constexpr const char* kFakeActionPath = "/fake/v1/action";

// The fake module's state and script; Reset() before each test.
struct FakePluginState {
  bool initializeResult = true;
  std::vector<std::string> listenOnInitialize;  // event names registered with flag 0 at Initialize
  bool unregisterOnShutdown = true;
  // The endpoints' behaviour: index 0 is kFakeEchoPath (GET), 1 kFakeActionPath (POST).
  std::function<void(PluginResponse*, const PluginRequest*)> endpoints[2];
  std::function<void(const PluginEventRecord*)> onEvent;

  // Observed.
  std::optional<HostContext> context;  // copied at Initialize: the host's record lives only for the call
  std::vector<std::pair<std::string, std::string>> events;  // name and payload JSON text
  int responseReleases = 0;
  bool shutDown = false;
};

FakePluginState& FakePlugin();
void ResetFakePlugin();

// The fake module's entry.
extern "C" uint32_t FakePluginEntry(PluginRegistration* registration);

// The arrays of the fake's API description, for tests that corrupt a copy.
struct FakeDescription {
  PluginArgumentRecord arguments[2];
  PluginArgumentLocation locations[2];
  const char* tags[2];
  const char* texts[2];
  PluginTextList textLists[1];
  PluginEndpointRecord endpoints[2];
  PluginFieldRecord fields[2];
  PluginEnumeratorRecord enumerators[2];
  PluginTypeRecord types[2];
  PluginEventInfoRecord events[1];
  PluginApiDescription header;
};
// Builds the description into `out` (its pointers point into `out`).
void BuildFakeDescription(FakeDescription& out);

// ---- Calls of the fake module on the host, as a module would make them ----

const HostApi* Host();

// What a request on the host answered; the record is released before this returns.
struct HostAnswer {
  std::int32_t status = 0;
  std::optional<std::string> error;
  std::string body;  // JSON text of the body, or the streamed text
  int yields = 0;    // yields made between stream chunks
};
// Sends a request with positional JSON parameters (texts); streams are read in 4096-byte chunks, with
// beginWait/yield/endWait after a short chunk that promises more.
HostAnswer HostRequest(std::uint32_t method, const std::string& path,
                       const std::vector<std::string>& parameters);

// Fills a module response with a status and a JSON body, and the fake's release function.
void Answer(PluginResponse* response, std::int32_t status, const std::string& jsonBody);

}  // namespace GoxHostTest
