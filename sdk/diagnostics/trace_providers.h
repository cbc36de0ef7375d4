// TraceProviders: the module's four event-trace providers and the "Main thread" event.
//
// The providers register with the system's event tracing through a TraceBackend looked up when the module
// loads. Linux has no such service built in, so no backend is installed by default and tracing stays off;
// a backend installed with SetTraceBackend before RegisterTraceProviders is used instead. The system
// enables and disables providers through TraceProviderEnableCallback. Registration and unregistration run
// during module load and unload, before and after any other thread uses the module.

#pragma once

#include <cstddef>
#include <cstdint>

namespace Quarn {

// A provider's 128-bit identity, laid out as the system's GUID.
struct TraceGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// Describes one event: what the system filters on and how the payload reads.
struct TraceEventDescriptor {
  std::uint16_t id;
  std::uint8_t version;
  std::uint8_t channel;
  std::uint8_t level;
  std::uint8_t opcode;
  std::uint16_t task;
  std::uint64_t keyword;
};

// One piece of an event payload; pieces are written back to back. The caller owns the bytes.
struct TraceDataDescriptor {
  const void* data;
  std::uint32_t size;
};

// Control codes the enable callback acts on; others are ignored.
inline constexpr std::uint32_t kTraceControlDisable = 0;
inline constexpr std::uint32_t kTraceControlEnable = 1;

// The system's notification that a provider was enabled or disabled. `context` is what the provider
// passed at registration.
using TraceEnableCallback = void (*)(const TraceGuid* provider, std::uint32_t controlCode, std::uint8_t level,
                                     std::uint64_t matchAnyKeyword, std::uint64_t matchAllKeyword,
                                     const void* filterData, void* context);

// The system's event-tracing functions. Any entry may be null: a missing function is never called. The
// installer owns the record and keeps it alive until after UnregisterTraceProviders.
struct TraceBackend {
  // Registers `provider`; stores a non-zero handle and answers 0 on success.
  std::uint32_t (*registerProvider)(const TraceGuid* provider, TraceEnableCallback callback, void* context,
                                    std::uint64_t* handle);
  std::uint32_t (*write)(std::uint64_t handle, const TraceEventDescriptor* event, std::uint32_t dataCount,
                         const TraceDataDescriptor* data);
  std::uint32_t (*unregisterProvider)(std::uint64_t handle);
};

inline constexpr std::size_t kTraceProviderCount = 4;

// Index of the provider that carries the "Main thread" event.
inline constexpr std::size_t kMainThreadProvider = 1;

// The "Main thread" event: id 103, version 0, channel 0, level 0, opcode 14, task 2, keyword 1. Its
// payload is the 32-bit thread id followed by the NUL-terminated thread name.
inline constexpr TraceEventDescriptor kMainThreadEvent = {103, 0, 0, 0, 14, 2, 1};

// A provider's registration and what the system last enabled. Bit i of `enabledEvents` is set while the
// provider's event i is enabled.
struct TraceProviderState {
  TraceGuid guid;
  std::uint64_t handle = 0;  // 0 while unregistered
  bool enabled = false;
  std::uint8_t level = 0;
  std::uint64_t matchAnyKeyword = 0;
  std::uint64_t matchAllKeyword = 0;
  std::uint32_t enabledEvents = 0;
};

// Installs the backend RegisterTraceProviders looks up; null (the default) leaves tracing off.
void SetTraceBackend(const TraceBackend* backend);

// Registers the four providers in order with the installed backend, skipping any already registered, and
// writes the "Main thread" event for the calling thread when provider 2 enables it. Without a backend it
// does nothing; it never fails, so loading continues either way.
void RegisterTraceProviders();

// Unregisters every registered provider and resets its handle to 0.
void UnregisterTraceProviders();

// The callback passed at registration. Enable stores the level and keyword masks, marks the provider
// enabled and recomputes each event's bit: an event is on when the provider level is 0 or not below the
// event's level and, for an event with keywords, its keywords meet the any-mask and hold all of the
// all-mask. Disable clears the mark, the level, both masks and every event bit. `context` is the
// provider's state.
void TraceProviderEnableCallback(const TraceGuid* provider, std::uint32_t controlCode, std::uint8_t level,
                                 std::uint64_t matchAnyKeyword, std::uint64_t matchAllKeyword,
                                 const void* filterData, void* context);

// A copy of provider `index`'s state. REQUIRES: `index` < kTraceProviderCount.
[[nodiscard]] TraceProviderState GetTraceProviderState(std::size_t index);

// Writes the "Main thread" event for the calling thread under `threadName` (null is written as "NULL")
// when the event is enabled; otherwise does nothing.
void WriteThreadNameEvent(const char* threadName);

}  // namespace Quarn
