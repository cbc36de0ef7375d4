#include "sdk/host/plugin_base.h"

#include <cstring>

#include "sdk/async/host_entry.h"
#include "sdk/binding/module_heap.h"
#include "sdk/diagnostics/assertion_report.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/diagnostics/message_format.h"
#include "sdk/endpoints/api_description.h"
#include "sdk/endpoints/function_names.h"
#include "sdk/host/bridge_types.h"

namespace Quarn {
namespace {

constexpr const char* kIncompatibleAssertion = "ALE-EECF0606";
constexpr const char* kIncompatibleMessage =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";
// The answer to a request made while no host table is held (before Initialize, after Shutdown).
constexpr const char* kNoHost = "No host core to send the request to";

PluginBase* PluginOf(void* plugin) {
  return static_cast<PluginBase*>(plugin);
}

}  // namespace

const ApiVersion& PluginApiVersion() {
  static const ApiVersion version{18, 0, 0, "", ""};
  return version;
}

bool IsCompatible(const ApiVersion& host, const ApiVersion& plugin) {
  if (host.major != plugin.major) return false;
  if (host.minor != plugin.minor) return host.minor > plugin.minor;
  return host.patch >= plugin.patch;
}

// The plugin holds the module's logger for its whole life: the logger is created on first use and
// destroyed by its last user's release, so without this hold a module unloaded after Shutdown would leave
// its logger (and the lines of its load) behind.
PluginBase::PluginBase() {
  GetLoggerApi()->acquire();
  ownRegistry_.Initialize();
}

PluginBase::~PluginBase() {
  // The log target holds the host table, which is valid only until Shutdown returns (Shutdown drops it;
  // a plugin destroyed without one drops it here).
  logTarget_.reset();
  ownRegistry_.Clear();
  GetLoggerApi()->release();
}

void PluginBase::HostRequest(PluginResponse* response, const PluginRequest* request) {
  if (const HostApi* api = Host()) {
    api->request(api, response, request);
  } else if (response != nullptr) {
    response->error = kNoHost;  // a request that went nowhere is no success
  }
}

void PluginBase::HostExternalRequest(PluginExternalResponse* response, const PluginExternalRequest* request) {
  if (const HostApi* api = Host()) {
    api->externalRequest(api, response, request);
  } else if (response != nullptr) {
    response->result = -1;
    response->body = kNoHost;
    response->bodyLength = static_cast<std::uint32_t>(std::strlen(kNoHost));
  }
}

void PluginBase::HostSendEvent(const PluginEventRecord* event) {
  if (const HostApi* api = Host()) api->sendEvent(api, event);
}

void PluginBase::HostRegisterEvent(const char* name, std::uint32_t hostHandle, PluginEventCallback callback,
                                   void* context, std::uint32_t flag) {
  if (const HostApi* api = Host()) api->registerEvent(api, name, hostHandle, callback, context, flag);
}

void PluginBase::HostUnregisterEvent(const char* name, std::uint32_t hostHandle) {
  if (const HostApi* api = Host()) api->unregisterEvent(api, name, hostHandle);
}

void PluginBase::HostReserved(std::uint32_t a, std::uint32_t b, std::uint32_t c, double d, std::uint32_t e) {
  if (const HostApi* api = Host()) api->reserved5(api, a, b, c, d, e);
}

void PluginBase::Yield() {
  if (const HostApi* api = Host()) api->yield(api);
}

void PluginBase::BeginWait(const char* label, std::uint32_t flag) {
  if (const HostApi* api = Host()) api->beginWait(api, label, flag);
}

void PluginBase::EndWait() {
  if (const HostApi* api = Host()) api->endWait(api);
}

void PluginBase::OnRegister() {}

bool PluginBase::OnInitialize() {
  return true;
}

std::uint32_t PluginBase::Load(PluginRegistration* registration, std::string_view shortName) {
  const ApiVersion& own = PluginApiVersion();
  const ApiVersion host{registration->major, registration->minor, registration->patch, "", ""};
  if (!IsCompatible(host, own)) {
    // The formed text names both versions; the report itself carries only the tag.
    (void)FormatString(kIncompatibleMessage, shortName, own, host);
    ReportAssertion(kIncompatibleAssertion, nullptr, nullptr, 0, nullptr);
    return 1;
  }
  hostVersion_ = host;
  identity_ = GetFullNameFromShortNameAndType(shortName, BackendPluginType());
  documentationTags_ = {"Plugins", "Plugin " + std::string(shortName)};
  typeNamePrefix_ = MakeFunctionName(kHttpMethodAny, shortName);
  RegisterBridgeTypes(ownRegistry_);
  registry_ = &ownRegistry_;
  logName_ = identity_.shortName;
  OnRegister();
  description_ = BuildApiDescription(ownRegistry_);

  registration->major = own.major;
  registration->minor = own.minor;
  registration->patch = own.patch;
  registration->api = &Api();
  registration->plugin = this;
  registration->shortName = identity_.shortName.c_str();
  registration->description = &description_->Header();
  return 0;
}

bool PluginBase::Start(const HostContext* context) {
  hostApi_ = context->api;
  hostHandle_ = context->hostHandle;
  self_ = this;
  InstallPluginLogTarget(context->api, logTarget_);
  userAgent_ = BuildUserAgent(hostVersion_, identity_.shortName);
  logName_ = identity_.shortName;
  CreateTelemetrySender();
  RegisterServiceProxyHandlers();
  return OnInitialize();
}

const PluginApi& PluginBase::Api() {
  static const PluginApi api = {
      [](void* plugin, const HostContext* context) -> std::uint8_t {
        if (plugin == nullptr || context == nullptr || context->api == nullptr) return 0;
        const HostEntry entry;
        try {
          return PluginOf(plugin)->Start(context) ? 1 : 0;
        } catch (...) {
          return 0;
        }
      },
      [](void* plugin) {
        if (plugin == nullptr) return;
        PluginBase* base = PluginOf(plugin);
        try {
          base->finalizing_ = 1;
          base->UnregisterAll();
        } catch (...) {
          // Shutdown goes on: the plugin is destroyed whatever failed before.
        }
        // The host table is valid only until Shutdown returns: from here on the plugin reaches nothing.
        base->logTarget_.reset();
        base->hostApi_ = nullptr;
        // Shutdown may arrive while the plugin is inside Yield (an await, a streamed read): the plugin
        // is destroyed once the host's calls into it that are still on the stack have returned.
        RunAfterHostEntries([](void* object) { delete static_cast<PluginBase*>(object); }, base);
      },
      [](void*, ::MemoryStats* stats) {
        if (stats == nullptr) return;
        const Quarn::MemoryStats counters = ReadMemoryStats();
        stats->peakBytesInUse = counters.peakBytesInUse;
        stats->allocationsAtPeak = counters.allocationsAtPeak;
        stats->bytesAllocated = counters.bytesAllocated;
        stats->allocationCount = counters.allocationCount;
        stats->bytesFreed = counters.bytesFreed;
        stats->freeCount = counters.freeCount;
        stats->reserved[0] = 0;
        stats->reserved[1] = 0;
      },
  };
  return api;
}

}  // namespace Quarn
