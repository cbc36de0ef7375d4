#include "sdk/async/await.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/recording_log_target.h"

namespace Quarn {
namespace {

// A host that records the wait calls in order and runs `onYield` at each yield.
struct ScriptedHost {
  std::vector<std::string> calls;
  std::function<void(int)> onYield;
  int yields = 0;

  void Yield() {
    calls.push_back("Yield");
    if (onYield) onYield(++yields);
  }
  void BeginWait(const char* label, std::uint32_t flag) {
    calls.push_back(std::string("BeginWait ") + label + " " + std::to_string(flag));
  }
  void EndWait() { calls.push_back("EndWait"); }
};

std::string FutureLabel() {
  return "BeginWait Wait: future<" + std::string(TypeIdOf<MaybeType<std::string>>().name) + "> 0";
}

TEST(AwaitTest, ReadyFutureReturnsWithoutAnyHostCall) {
  ScriptedHost host;
  std::promise<MaybeType<std::string>> promise;
  promise.set_value(std::string("done"));
  MaybeType<std::string> result = Await(host, promise.get_future());
  ASSERT_TRUE(result.Ok());
  EXPECT_EQ(result.Value(), "done");
  EXPECT_TRUE(host.calls.empty());
}

TEST(AwaitTest, OneWaitAroundEveryYieldUntilReady) {
  ScriptedHost host;
  std::promise<MaybeType<std::string>> promise;
  host.onYield = [&](int yields) {
    if (yields == 3) promise.set_value(Failure(503, "Loadouts not enabled"));
  };
  MaybeType<std::string> result = Await(host, promise.get_future());
  const std::vector<std::string> expected = {FutureLabel(), "Yield", "Yield", "Yield", "EndWait"};
  EXPECT_EQ(host.calls, expected);
  ASSERT_TRUE(result.HasFailure());
  EXPECT_EQ(result.GetFailure().Code(), 503);
  EXPECT_EQ(result.GetFailure().Message(), "Loadouts not enabled");
}

TEST(AwaitTest, AbandonedPromiseIsReportedOnceAndAnsweredWithAFailure) {
  ScopedLogger logger;
  RecordingLogTarget recorder;
  recorder.Attach();
  ScriptedHost host;
  auto promise = std::make_unique<std::promise<MaybeType<std::string>>>();
  std::future<MaybeType<std::string>> future = promise->get_future();
  host.onYield = [&](int) { promise.reset(); };  // the producer goes away while the plugin waits

  MaybeType<std::string> result = Await(host, std::move(future));
  ASSERT_TRUE(result.HasFailure());
  EXPECT_EQ(result.GetFailure().Message(),
            "Caught std::future_error in AppModule::Await: (1) broken promise");
  const std::vector<std::string> expected = {FutureLabel(), "Yield", "EndWait"};
  EXPECT_EQ(host.calls, expected);
  const auto entries = recorder.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].message, "Assertion failed!\n\nExpression: ALE-6D828C10");
}

TEST(AwaitTest, FutureWithoutStateIsAFailureNotACrash) {
  ScopedLogger logger;
  ScriptedHost host;
  MaybeType<std::string> result = Await(host, std::future<MaybeType<std::string>>());
  ASSERT_TRUE(result.HasFailure());
  EXPECT_EQ(result.GetFailure().Message(), "Caught std::future_error in AppModule::Await: (4) no state");
  EXPECT_TRUE(host.calls.empty());
}

TEST(AwaitTest, YieldOnceIsOneLabelledWait) {
  ScriptedHost host;
  YieldOnce(host);
  const std::vector<std::string> expected = {"BeginWait Wait: yield 0", "Yield", "EndWait"};
  EXPECT_EQ(host.calls, expected);
}

TEST(AwaitTest, MaybeTypeIdentifiersAreFixedPerValueTypeAndShownAsNumbers) {
  EXPECT_NE(TypeTraits<MaybeType<std::string>>::kId, TypeTraits<MaybeType<bool>>::kId);
  EXPECT_NE(TypeTraits<MaybeType<>>::kId, TypeTraits<MaybeType<std::int32_t>>::kId);
  EXPECT_EQ(TypeIdOf<MaybeType<>>().name.size(), 9u);
  EXPECT_EQ(TypeIdOf<MaybeType<>>().name[0], '#');
}

}  // namespace
}  // namespace Quarn
