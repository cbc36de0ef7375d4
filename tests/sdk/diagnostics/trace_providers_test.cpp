#include "sdk/diagnostics/trace_providers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sdk/diagnostics/platform_services.h"

namespace Quarn {
namespace {

// A stand-in for the system's event tracing: it hands out handles 100, 101, ..., remembers each
// registration, enables a provider at registration when told to, and keeps written events.
struct FakeTracing {
  struct Registration {
    TraceGuid guid;
    TraceEnableCallback callback;
    void* context;
  };
  struct Event {
    std::uint64_t handle;
    TraceEventDescriptor descriptor;
    std::string payload;
  };

  std::vector<Registration> registrations;
  std::vector<Event> events;
  std::vector<std::uint64_t> unregistered;
  const TraceGuid* enableOnRegister = nullptr;
  std::uint64_t enableAnyKeyword = 1;
};

FakeTracing* fake = nullptr;

std::uint32_t FakeRegister(const TraceGuid* provider, TraceEnableCallback callback, void* context,
                           std::uint64_t* handle) {
  fake->registrations.push_back({*provider, callback, context});
  *handle = 99 + fake->registrations.size();
  if (fake->enableOnRegister != nullptr &&
      std::memcmp(fake->enableOnRegister, provider, sizeof *provider) == 0)
    callback(provider, kTraceControlEnable, 0, fake->enableAnyKeyword, 0, nullptr, context);
  return 0;
}

std::uint32_t FakeWrite(std::uint64_t handle, const TraceEventDescriptor* event, std::uint32_t dataCount,
                        const TraceDataDescriptor* data) {
  std::string payload;
  for (std::uint32_t i = 0; i < dataCount; ++i)
    payload.append(static_cast<const char*>(data[i].data), data[i].size);
  fake->events.push_back({handle, *event, payload});
  return 0;
}

std::uint32_t FakeUnregister(std::uint64_t handle) {
  fake->unregistered.push_back(handle);
  return 0;
}

constexpr TraceBackend kFullBackend = {FakeRegister, FakeWrite, FakeUnregister};
constexpr TraceBackend kRegisterOnlyBackend = {FakeRegister, nullptr, nullptr};

constexpr TraceGuid kProviderGuids[kTraceProviderCount] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};

std::string MainThreadPayload(const char* name) {
  const std::uint32_t thread = CurrentThreadNumber();
  return std::string(reinterpret_cast<const char*>(&thread), sizeof thread) + name + '\0';
}

// Leaves the providers unregistered, disabled and without a backend, as the process starts.
class TraceProvidersTest : public testing::Test {
 protected:
  void SetUp() override { fake = &tracing_; }
  void TearDown() override {
    for (const FakeTracing::Registration& r : tracing_.registrations)
      r.callback(&r.guid, kTraceControlDisable, 0, 0, 0, nullptr, r.context);
    UnregisterTraceProviders();
    SetTraceBackend(nullptr);
    fake = nullptr;
  }

  FakeTracing tracing_;
};

TEST_F(TraceProvidersTest, WithoutBackendNothingIsRegisteredOrWritten) {
  RegisterTraceProviders();
  WriteThreadNameEvent("Main thread");
  for (std::size_t i = 0; i < kTraceProviderCount; ++i)
    EXPECT_EQ(GetTraceProviderState(i).handle, 0u) << i;
  EXPECT_TRUE(tracing_.registrations.empty());
}

TEST_F(TraceProvidersTest, RegistersTheFourProvidersOnceInOrder) {
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  RegisterTraceProviders();
  ASSERT_EQ(tracing_.registrations.size(), kTraceProviderCount);
  for (std::size_t i = 0; i < kTraceProviderCount; ++i) {
    EXPECT_EQ(std::memcmp(&tracing_.registrations[i].guid, &kProviderGuids[i], sizeof(TraceGuid)), 0) << i;
    EXPECT_EQ(GetTraceProviderState(i).handle, 100 + i);
  }
  EXPECT_TRUE(tracing_.events.empty()) << "no consumer enabled the main-thread event";

  UnregisterTraceProviders();
  EXPECT_EQ(tracing_.unregistered, (std::vector<std::uint64_t>{100, 101, 102, 103}));
  for (std::size_t i = 0; i < kTraceProviderCount; ++i)
    EXPECT_EQ(GetTraceProviderState(i).handle, 0u) << i;
}

TEST_F(TraceProvidersTest, MainThreadEventIsWrittenWhenEnabledAtRegistration) {
  tracing_.enableOnRegister = &kProviderGuids[kMainThreadProvider];
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  WriteThreadNameEvent(nullptr);
  ASSERT_EQ(tracing_.events.size(), 2u);
  const FakeTracing::Event& event = tracing_.events[0];
  EXPECT_EQ(event.handle, 101u);
  const TraceEventDescriptor& d = event.descriptor;
  EXPECT_EQ(d.id, 103);
  EXPECT_EQ(d.version, 0);
  EXPECT_EQ(d.channel, 0);
  EXPECT_EQ(d.level, 0);
  EXPECT_EQ(d.opcode, 14);
  EXPECT_EQ(d.task, 2);
  EXPECT_EQ(d.keyword, 1u);
  EXPECT_EQ(event.payload, MainThreadPayload("Main thread"));
  EXPECT_EQ(tracing_.events[1].payload, MainThreadPayload("NULL"));
}

TEST_F(TraceProvidersTest, MissingWriteFunctionLeavesTracingSilent) {
  tracing_.enableOnRegister = &kProviderGuids[kMainThreadProvider];
  SetTraceBackend(&kRegisterOnlyBackend);
  RegisterTraceProviders();
  EXPECT_EQ(GetTraceProviderState(kMainThreadProvider).enabledEvents, 1u);
  EXPECT_TRUE(tracing_.events.empty());
}

TEST_F(TraceProvidersTest, EnableCallbackDecidesTheMainThreadEventBit) {
  tracing_.enableAnyKeyword = 0;
  tracing_.enableOnRegister = &kProviderGuids[kMainThreadProvider];
  SetTraceBackend(&kFullBackend);
  RegisterTraceProviders();
  const FakeTracing::Registration& provider = tracing_.registrations[kMainThreadProvider];
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
    provider.callback(&provider.guid, kTraceControlEnable, c.level, c.any, c.all, nullptr, provider.context);
    const TraceProviderState state = GetTraceProviderState(kMainThreadProvider);
    EXPECT_TRUE(state.enabled);
    EXPECT_EQ(state.level, c.level);
    EXPECT_EQ(state.matchAnyKeyword, c.any);
    EXPECT_EQ(state.matchAllKeyword, c.all);
    EXPECT_EQ(state.enabledEvents, c.enabled ? 1u : 0u) << int{c.level} << " " << c.any << " " << c.all;
  }

  provider.callback(&provider.guid, 2, 0, 0, 0, nullptr, provider.context);  // ignored
  EXPECT_EQ(GetTraceProviderState(kMainThreadProvider).matchAllKeyword, 3u);

  provider.callback(&provider.guid, kTraceControlDisable, 0, 0, 0, nullptr, provider.context);
  const TraceProviderState disabled = GetTraceProviderState(kMainThreadProvider);
  EXPECT_FALSE(disabled.enabled);
  EXPECT_EQ(disabled.level, 0);
  EXPECT_EQ(disabled.matchAnyKeyword | disabled.matchAllKeyword | disabled.enabledEvents, 0u);
  EXPECT_TRUE(tracing_.events.empty());
}

}  // namespace
}  // namespace Quarn
