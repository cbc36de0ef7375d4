#include "sdk/diagnostics/trace_providers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sdk/diagnostics/platform_services.h"

namespace Quarn {
namespace {

// A stand-in for the system's event tracing: hands out handles 100, 101, ..., remembers each
// registration, enables provider 2 at registration when told to, and keeps the written events.
struct FakeTracing {
  struct Registration {
    TraceEnableCallback callback;
    void* context;
  };
  std::vector<TraceGuid> guids;
  std::vector<Registration> registrations;
  std::vector<std::string> events;  // handle, descriptor fields and payload, as text
  std::vector<std::uint64_t> unregistered;
  bool enableMainThreadProvider = false;
};

FakeTracing* fake = nullptr;

constexpr TraceGuid kMainThreadProviderGuid = {
    0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}};

std::uint32_t FakeRegister(const TraceGuid* provider, TraceEnableCallback callback, void* context,
                           std::uint64_t* handle) {
  fake->guids.push_back(*provider);
  fake->registrations.push_back({callback, context});
  *handle = 99 + fake->registrations.size();
  if (fake->enableMainThreadProvider &&
      std::memcmp(provider, &kMainThreadProviderGuid, sizeof *provider) == 0)
    callback(provider, kTraceControlEnable, 0, 1, 0, nullptr, context);
  return 0;
}

std::uint32_t FakeWrite(std::uint64_t handle, const TraceEventDescriptor* e, std::uint32_t count,
                        const TraceDataDescriptor* data) {
  std::string event = std::to_string(handle) + " " + std::to_string(e->id) + " " +
                      std::to_string(e->version) + " " + std::to_string(e->channel) + " " +
                      std::to_string(e->level) + " " + std::to_string(e->opcode) + " " +
                      std::to_string(e->task) + " " + std::to_string(e->keyword) + " ";
  for (std::uint32_t i = 0; i < count; ++i)
    event.append(static_cast<const char*>(data[i].data), data[i].size);
  fake->events.push_back(event);
  return 0;
}

std::uint32_t FakeUnregister(std::uint64_t handle) {
  fake->unregistered.push_back(handle);
  return 0;
}

constexpr TraceBackend kFullBackend = {FakeRegister, FakeWrite, FakeUnregister};
constexpr TraceBackend kRegisterOnlyBackend = {FakeRegister, nullptr, nullptr};

std::string MainThreadEvent(const char* name) {
  const std::uint32_t thread = CurrentThreadNumber();
  return "101 103 0 0 0 14 2 1 " + std::string(reinterpret_cast<const char*>(&thread), sizeof thread) + name +
         '\0';
}

// Leaves the providers unregistered, disabled and without a backend, as the process starts.
class TraceProvidersTest : public testing::Test {
 protected:
  void SetUp() override { fake = &tracing_; }
  void TearDown() override {
    for (const FakeTracing::Registration& r : tracing_.registrations)
      r.callback(nullptr, kTraceControlDisable, 0, 0, 0, nullptr, r.context);
    UnregisterTraceProviders();
    SetTraceBackend(nullptr);
    fake = nullptr;
  }

  FakeTracing tracing_;
};

TEST_F(TraceProvidersTest, WithoutBackendOrWriteFunctionNothingIsWritten) {
  RegisterTraceProviders();
  WriteThreadNameEvent("Main thread");
  EXPECT_EQ(GetTraceProviderState(kMainThreadProvider).handle, 0u);

  tracing_.enableMainThreadProvider = true;
  SetTraceBackend(&kRegisterOnlyBackend);
  RegisterTraceProviders();
  EXPECT_EQ(GetTraceProviderState(kMainThreadProvider).enabledEvents, 1u);
  EXPECT_TRUE(tracing_.events.empty());
}

TEST_F(TraceProvidersTest, RegistersTheFourProvidersOnceInOrderAndUnregistersThem) {
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  RegisterTraceProviders();
  ASSERT_EQ(tracing_.guids.size(), kTraceProviderCount);
  const std::uint32_t firstWords[] = {0x2F9EFE86, 0xEA08C559, 0x10F6728C, 0x46DD7F96};
  for (std::size_t i = 0; i < kTraceProviderCount; ++i) {
    EXPECT_EQ(tracing_.guids[i].data1, firstWords[i]);
    EXPECT_EQ(GetTraceProviderState(i).handle, 100 + i);
  }
  EXPECT_EQ(std::memcmp(&tracing_.guids[1], &kMainThreadProviderGuid, sizeof(TraceGuid)), 0);
  EXPECT_TRUE(tracing_.events.empty()) << "no consumer enabled the main-thread event";

  UnregisterTraceProviders();
  EXPECT_EQ(tracing_.unregistered, (std::vector<std::uint64_t>{100, 101, 102, 103}));
  EXPECT_EQ(GetTraceProviderState(3).handle, 0u);
}

TEST_F(TraceProvidersTest, MainThreadEventIsWrittenWhenEnabled) {
  tracing_.enableMainThreadProvider = true;
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  WriteThreadNameEvent(nullptr);
  EXPECT_EQ(tracing_.events,
            (std::vector<std::string>{MainThreadEvent("Main thread"), MainThreadEvent("NULL")}));
}

TEST_F(TraceProvidersTest, EnableCallbackDecidesTheMainThreadEventBit) {
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  const FakeTracing::Registration provider = tracing_.registrations[kMainThreadProvider];
  struct Case {
    std::uint8_t level;
    std::uint64_t any;
    std::uint64_t all;
    bool enabled;
  };
  const Case cases[] = {
      {0, 1, 0, true},   //
      {5, 1, 0, true},   // any provider level admits the level-0 event
      {0, 0, 0, false},  // keywords must meet the any-mask
      {0, 2, 0, false},  //
      {0, 3, 1, true},   //
      {0, 1, 3, false},  // the event lacks a keyword the all-mask demands
  };
  for (const Case& c : cases) {
    provider.callback(nullptr, kTraceControlEnable, c.level, c.any, c.all, nullptr, provider.context);
    const TraceProviderState state = GetTraceProviderState(kMainThreadProvider);
    EXPECT_TRUE(state.enabled && state.level == c.level && state.matchAnyKeyword == c.any &&
                state.matchAllKeyword == c.all);
    EXPECT_EQ(state.enabledEvents, c.enabled ? 1u : 0u) << int{c.level} << " " << c.any << " " << c.all;
  }

  provider.callback(nullptr, 2, 0, 0, 0, nullptr, provider.context);  // other control codes are ignored
  EXPECT_EQ(GetTraceProviderState(kMainThreadProvider).matchAllKeyword, 3u);

  provider.callback(nullptr, kTraceControlDisable, 0, 0, 0, nullptr, provider.context);
  const TraceProviderState disabled = GetTraceProviderState(kMainThreadProvider);
  EXPECT_FALSE(disabled.enabled);
  EXPECT_EQ(disabled.level | disabled.matchAnyKeyword | disabled.matchAllKeyword | disabled.enabledEvents,
            0u);
}

}  // namespace
}  // namespace Quarn
