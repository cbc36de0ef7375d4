#include "tests/support/fake_plugin.h"

#include <array>

#include "host/host_value_codec.h"

namespace GoxHostTest {
namespace {

FakePluginState& State() {
  static FakePluginState state;
  return state;
}

int pluginObject = 0;  // the fake's plugin object: only its address matters

void OnEvent(const PluginEventRecord* event) {
  GoxHost::HostValueReading payload = GoxHost::FromHostValue(event->payload);
  State().events.emplace_back(event->name, payload.value ? payload.value->Text() : "<" + payload.error + ">");
  if (State().onEvent) State().onEvent(event);
}

uint8_t Initialize(void* plugin, const HostContext* context) {
  if (plugin != &pluginObject) return 0;
  State().context = *context;
  for (const std::string& name : State().listenOnInitialize)
    context->api->registerEvent(context->api, name.c_str(), context->hostHandle, &OnEvent, plugin, 0);
  return State().initializeResult ? 1 : 0;
}

void Shutdown(void*) {
  FakePluginState& state = State();
  if (state.context.has_value() && state.unregisterOnShutdown)
    for (const std::string& name : state.listenOnInitialize)
      state.context->api->unregisterEvent(state.context->api, name.c_str(), state.context->hostHandle);
  state.shutDown = true;
}

void GetMemoryStats(void*, MemoryStats* stats) {
  *stats = MemoryStats{};
  stats->allocationCount = 3;
  stats->freeCount = 2;
}

const PluginApi kApi{&Initialize, &Shutdown, &GetMemoryStats};

template <int Index>
void CallEndpoint(PluginResponse* response, const PluginRequest* request) {
  if (State().endpoints[Index]) State().endpoints[Index](response, request);
}

void ReleaseResponse(PluginResponse* response) {
  ++State().responseReleases;
  GoxHost::ReleaseHostValue(&response->body);
}

}  // namespace

FakePluginState& FakePlugin() {
  return State();
}

void ResetFakePlugin() {
  State() = FakePluginState{};
}

extern "C" uint32_t FakePluginEntry(PluginRegistration* registration) {
  static FakeDescription description;
  const bool compatible = registration->major == 18;  // every 18.x.y is at least 18.0.0
  if (!compatible) return 1;
  BuildFakeDescription(description);
  registration->major = 18;
  registration->minor = 0;
  registration->patch = 0;
  registration->api = &kApi;
  registration->plugin = &pluginObject;
  registration->shortName = "fake";
  registration->description = &description.header;
  return 0;
}

void BuildFakeDescription(FakeDescription& d) {
  d = FakeDescription{};
  d.arguments[0] = {&d.arguments[1], "id", "the item", 5, 0, "", 0};
  d.arguments[1] = {nullptr, "verbose", "", 1, 0, "", 1};
  d.locations[0] = {&d.locations[1], 2};
  d.locations[1] = {nullptr, 1};
  d.tags[0] = "Plugins";
  d.tags[1] = "Plugin fake";
  d.texts[0] = "a";
  d.texts[1] = "b";
  d.textLists[0] = {nullptr, d.texts, 2};
  PluginEndpointRecord& echo = d.endpoints[0];
  echo.next = &d.endpoints[1];
  echo.context = &d.endpoints[0];
  echo.name = "GetFakeV1EchoById";
  echo.nameSpace = "";
  echo.arguments = d.arguments;
  echo.argumentCount = 2;
  echo.returnKind = 13;
  echo.returnTypeName = "";
  echo.description = "Echoes the call.";
  echo.help = "";
  echo.asyncTypeName = "";
  echo.tags = d.tags;
  echo.tagCount = 2;
  echo.call = &CallEndpoint<0>;
  echo.locations = d.locations;
  echo.path = kFakeEchoPath;
  echo.method = kHttpMethodGet;
  echo.textLists = d.textLists;
  echo.textListCount = 1;
  echo.customMethod = "";
  d.endpoints[1] = echo;
  PluginEndpointRecord& action = d.endpoints[1];
  action.next = nullptr;
  action.context = &d.endpoints[1];
  action.name = "PostFakeV1Action";
  action.arguments = nullptr;
  action.argumentCount = 0;
  action.locations = nullptr;
  action.call = &CallEndpoint<1>;
  action.path = kFakeActionPath;
  action.method = kHttpMethodPost;
  action.textLists = nullptr;
  action.textListCount = 0;
  d.fields[0] = {&d.fields[1], "id", "", 0, 5, 0, "", 0};
  d.fields[1] = {nullptr, "color", "", 4, 16, 0, "FakeColor", 1};
  d.enumerators[0] = {&d.enumerators[1], "Blue", "", 1};
  d.enumerators[1] = {nullptr, "Red", "", 0};
  d.types[0] = {&d.types[1], "FakeItem", "", 8, "An item.", d.tags, 2, d.fields, nullptr, 2};
  d.types[1] = {nullptr, "FakeColor", "", 4, "", d.tags, 0, nullptr, d.enumerators, 2};
  d.events[0] = {nullptr, "OnFakeEvent", "", "FakeItem", "Fired by the fake.", d.tags, 1};
  d.header = {d.endpoints, 2, d.types, 2, d.events, 1};
}

const HostApi* Host() {
  return State().context->api;
}

HostAnswer HostRequest(std::uint32_t method, const std::string& path,
                       const std::vector<std::string>& parameters) {
  const HostContext& context = *State().context;
  std::vector<PluginParameter> entries;
  for (const std::string& text : parameters)
    entries.push_back(PluginParameter{nullptr, GoxHost::ToHostValue(GoxHost::JsonValue::Parse(text)->Get())});
  PluginRequest request{};
  request.method = method;
  request.path = path.c_str();
  request.parameters = entries.data();
  request.parameterCount = static_cast<uint32_t>(entries.size());
  request.handleOrRequestId = context.hostHandle;
  PluginResponse response{};
  context.api->request(context.api, &response, &request);
  for (PluginParameter& entry : entries)
    GoxHost::ReleaseHostValue(&entry.value);

  HostAnswer answer;
  answer.status = response.status;
  if (response.error != nullptr) answer.error = response.error;
  if (response.read != nullptr) {
    std::array<char, 4096> buffer{};
    for (;;) {
      uint32_t length = buffer.size();
      uint8_t more = 0;
      if (response.read(response.streamContext, buffer.data(), &length, &more) == 0) break;
      answer.body.append(buffer.data(), length);
      if (more == 0) break;
      if (length < buffer.size()) {
        context.api->beginWait(context.api, "Wait: yield", 0);
        context.api->yield(context.api);
        context.api->endWait(context.api);
        ++answer.yields;
      }
    }
    response.close(response.streamContext);
  } else if (!answer.error) {
    GoxHost::HostValueReading body = GoxHost::FromHostValue(response.body);
    answer.body = body.value ? body.value->Text() : "<" + body.error + ">";
  }
  if (response.release != nullptr) response.release(&response);
  return answer;
}

void Answer(PluginResponse* response, std::int32_t status, const std::string& jsonBody) {
  response->status = status;
  response->body = GoxHost::ToHostValue(GoxHost::JsonValue::Parse(jsonBody)->Get());
  response->release = &ReleaseResponse;
}

}  // namespace GoxHostTest
