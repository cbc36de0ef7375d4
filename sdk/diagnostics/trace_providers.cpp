#include "sdk/diagnostics/trace_providers.h"

#include <cstring>

#include "sdk/diagnostics/platform_services.h"

namespace Quarn {
namespace {

constexpr const char* kMainThreadName = "Main thread";
constexpr const char* kAbsentThreadName = "NULL";

// The events a provider defines; bit i of its enabledEvents belongs to events[i].
struct ProviderEvents {
  const TraceEventDescriptor* events;
  std::size_t count;
};

constexpr TraceEventDescriptor kMainThreadProviderEvents[] = {kMainThreadEvent};
constexpr std::size_t kMainThreadEventIndex = 0;

constexpr ProviderEvents kProviderEvents[kTraceProviderCount] = {
    {nullptr, 0},
    {kMainThreadProviderEvents, 1},
    {nullptr, 0},
    {nullptr, 0},
};

TraceProviderState providers[kTraceProviderCount] = {
    {{0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}}},
    {{0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}}},
    {{0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}}},
    {{0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}}},
};

const TraceBackend* installedBackend = nullptr;
const TraceBackend* loadedBackend = nullptr;  // the backend found at load, used until unload

const ProviderEvents& EventsOf(const TraceProviderState* provider) {
  return kProviderEvents[static_cast<std::size_t>(provider - providers)];
}

bool EventEnabled(const TraceProviderState& provider, const TraceEventDescriptor& event) {
  if (provider.level != 0 && provider.level < event.level) return false;
  if (event.keyword == 0) return true;
  return (event.keyword & provider.matchAnyKeyword) != 0 &&
         (event.keyword & provider.matchAllKeyword) == provider.matchAllKeyword;
}

}  // namespace

void SetTraceBackend(const TraceBackend* backend) {
  installedBackend = backend;
}

void RegisterTraceProviders() {
  loadedBackend = installedBackend;
  if (loadedBackend == nullptr) return;
  if (loadedBackend->registerProvider != nullptr) {
    for (TraceProviderState& provider : providers) {
      if (provider.handle != 0) continue;
      if (loadedBackend->registerProvider(&provider.guid, TraceProviderEnableCallback, &provider,
                                          &provider.handle) != 0) {
        provider.handle = 0;
      }
    }
  }
  WriteThreadNameEvent(kMainThreadName);
}

void UnregisterTraceProviders() {
  for (TraceProviderState& provider : providers) {
    if (provider.handle == 0) continue;
    if (loadedBackend != nullptr && loadedBackend->unregisterProvider != nullptr)
      (void)loadedBackend->unregisterProvider(provider.handle);
    provider.handle = 0;
  }
}

void TraceProviderEnableCallback(const TraceGuid*, std::uint32_t controlCode, std::uint8_t level,
                                 std::uint64_t matchAnyKeyword, std::uint64_t matchAllKeyword, const void*,
                                 void* context) {
  auto* provider = static_cast<TraceProviderState*>(context);
  if (provider == nullptr) return;
  if (controlCode == kTraceControlEnable) {
    provider->level = level;
    provider->matchAnyKeyword = matchAnyKeyword;
    provider->matchAllKeyword = matchAllKeyword;
    provider->enabled = true;
    const ProviderEvents& events = EventsOf(provider);
    provider->enabledEvents = 0;
    for (std::size_t i = 0; i < events.count; ++i) {
      if (EventEnabled(*provider, events.events[i])) provider->enabledEvents |= std::uint32_t{1} << i;
    }
  } else if (controlCode == kTraceControlDisable) {
    provider->enabled = false;
    provider->level = 0;
    provider->matchAnyKeyword = 0;
    provider->matchAllKeyword = 0;
    provider->enabledEvents = 0;
  }
}

TraceProviderState GetTraceProviderState(std::size_t index) {
  return providers[index];
}

void WriteThreadNameEvent(const char* threadName) {
  const TraceProviderState& provider = providers[kMainThreadProvider];
  if ((provider.enabledEvents & (std::uint32_t{1} << kMainThreadEventIndex)) == 0) return;
  if (loadedBackend == nullptr || loadedBackend->write == nullptr) return;
  const std::uint32_t threadNumber = CurrentThreadNumber();
  const char* name = threadName == nullptr ? kAbsentThreadName : threadName;
  const TraceDataDescriptor payload[] = {
      {&threadNumber, sizeof threadNumber},
      {name, static_cast<std::uint32_t>(std::strlen(name) + 1)},
  };
  (void)loadedBackend->write(provider.handle, &kMainThreadEvent, 2, payload);
}

}  // namespace Quarn
