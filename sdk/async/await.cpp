#include "sdk/async/await.h"

#include "sdk/diagnostics/assertion_report.h"

namespace Quarn::AwaitDetail {
namespace {

constexpr const char* kFutureErrorAssertion = "ALE-6D828C10";
constexpr const char* kFutureErrorMessage = "Caught std::future_error in AppModule::Await: (%1) %2";
constexpr const char* kUnknownException = "Unknown exception";

struct FutureErrorText {
  std::future_errc code;
  std::int32_t number;
  const char* text;
};

constexpr FutureErrorText kFutureErrors[] = {
    {std::future_errc::broken_promise, 1, "broken promise"},
    {std::future_errc::future_already_retrieved, 2, "future already retrieved"},
    {std::future_errc::promise_already_satisfied, 3, "promise already satisfied"},
    {std::future_errc::no_state, 4, "no state"},
};

}  // namespace

Failure ReportFutureError(const std::future_error& error) {
  std::int32_t number = error.code().value();
  const char* text = kUnknownException;
  for (const FutureErrorText& known : kFutureErrors) {
    if (error.code() == known.code) {
      number = known.number;
      text = known.text;
    }
  }
  ReportAssertion(kFutureErrorAssertion, nullptr, nullptr, 0, nullptr);
  return Failure(FormatString(kFutureErrorMessage, number, text));
}

Failure ExceptionFailure(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    const char* text = error.what();
    return Failure(text != nullptr && *text != '\0' ? text : kUnknownException);
  } catch (...) {
    return Failure(kUnknownException);
  }
}

}  // namespace Quarn::AwaitDetail
