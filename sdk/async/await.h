// Awaiting a result future on the host's plugin thread without blocking it: the wait polls the future
// and hands control to the host core between polls, so that host events (which may fulfil the future)
// keep flowing, and the host core may call back into the plugin meanwhile.

#pragma once

#include <cstdint>
#include <exception>
#include <future>
#include <string>
#include <utility>

#include "sdk/binding/maybe_type.h"
#include "sdk/diagnostics/message_format.h"

namespace Quarn {

// The label of a yield-only wait.
inline constexpr const char* kYieldWaitLabel = "Wait: yield";
// The label of a future's wait; %1 is the display name of the awaited MaybeType's identifier.
inline constexpr const char* kFutureWaitLabel = "Wait: future<%1>";
// The failure of a wait given up because the plugin is shutting down.
inline constexpr const char* kAwaitFinalizing = "Finalizing";

namespace AwaitDetail {

// Reports a future error ("ALE-6D828C10") and answers the failure the waiter receives. The codes
// follow the host core's numbering: 1 broken promise, 2 future already retrieved, 3 promise already
// satisfied, 4 no state.
[[nodiscard]] Failure ReportFutureError(const std::future_error& error);

// The failure for an exception of another kind stored by the producer.
[[nodiscard]] Failure ExceptionFailure(const std::exception_ptr& exception);

}  // namespace AwaitDetail

// Waits for `future` and returns what its producer stored: a value or a Failure, unchanged. While the
// future is not ready, the host gets control through host.Yield() after each poll; the first such poll
// opens a wait with host.BeginWait(label, 0), closed by host.EndWait() once the future is ready. A
// future that is ready at once causes no host call. A future error (a promise destroyed unfulfilled, a
// future without shared state) is reported as the assertion "ALE-6D828C10" and answered with a Failure.
// When Host has Finalizing() and it turns true (Shutdown arrived during a Yield), the wait is given up
// with the Failure "Finalizing": no answer can come through a host that has let go of the plugin.
// Host needs Yield(), BeginWait(const char*, std::uint32_t) and EndWait().
//
//   MaybeType<Answer> answer = Await<Answer>(module, std::move(future));
template <class T, class Host>
[[nodiscard]] MaybeType<T> Await(Host& host, std::future<MaybeType<T>> future) {
  bool waiting = false;
  try {
    if (!future.valid()) throw std::future_error(std::future_errc::no_state);
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      if (!waiting) {
        const std::string label = FormatString(kFutureWaitLabel, TypeIdOf<MaybeType<T>>().name);
        host.BeginWait(label.c_str(), 0);
        waiting = true;
      }
      host.Yield();
      if constexpr (requires { host.Finalizing(); }) {
        if (host.Finalizing()) {
          waiting = false;
          host.EndWait();
          return Failure(kAwaitFinalizing);
        }
      }
    }
    if (waiting) {
      waiting = false;
      host.EndWait();
    }
    return future.get();
  } catch (const std::future_error& error) {
    if (waiting) host.EndWait();
    return AwaitDetail::ReportFutureError(error);
  } catch (...) {
    if (waiting) host.EndWait();
    return AwaitDetail::ExceptionFailure(std::current_exception());
  }
}

// Lets the host core run once, inside a wait labelled "Wait: yield".
template <class Host>
void YieldOnce(Host& host) {
  host.BeginWait(kYieldWaitLabel, 0);
  host.Yield();
  host.EndWait();
}

}  // namespace Quarn
