#include "sdk/host/service_proxy_requests.h"

#include <utility>

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/host/app_module.h"

namespace Quarn::ServiceProxyDetail {
namespace {

constexpr const char* kPreparing = "%s: Preparing service proxy request: %s";
constexpr const char* kStarted = "%s: Started service proxy request: %s (%s)";
constexpr const char* kAlreadyInFlight = "%s: Could not invoke service proxy as request is already in flight";

}  // namespace

MaybeType<> Post(AppModule& module, std::string_view service, std::string_view method,
                 const std::string& payload, std::string_view answerMethod, std::string_view extra,
                 ServiceProxyTables::Completion completion) {
  const std::string& logName = module.LogName();
  // The parameters travel as texts, in the order the login plugin reads them.
  const std::string serviceText(service), methodText(method), answerText(answerMethod), extraText(extra);
  const std::string name = ServiceProxyKey(service, method);
  Log(kLogLevelAlways, kCategoryGeneral, kPreparing, logName.c_str(), name.c_str());

  std::string key;
  if (!answerMethod.empty()) {
    key = ServiceProxyKey(service, answerMethod);
    if (module.ServiceProxy().InFlight(key)) {
      Log(kLogLevelError, kCategoryGeneral, kAlreadyInFlight, logName.c_str());
      return Failure(kServiceProxyInFlight);
    }
    MaybeType<> posted =
        module.SendRequest<void>(kHttpMethodPost, kServiceProxyMethodPath, serviceText, methodText,
                                 answerText, extraText, module.HostHandle(), payload);
    if (posted.HasFailure()) return Failure(posted.GetFailure().Message());
  } else {
    MaybeType<std::string> posted = module.SendRequest<std::string>(
        kHttpMethodPost, kServiceProxyUuidPath, serviceText, methodText, module.HostHandle(), payload);
    if (posted.HasFailure()) return Failure(posted.GetFailure().Message());
    key = posted.TakeValue();
  }
  Log(kLogLevelAlways, kCategoryGeneral, kStarted, logName.c_str(), name.c_str(), key.c_str());

  // Another request under the same key may have started while this one was being posted (the host can
  // run the plugin's code during the post); the one already waiting keeps its place.
  if (!module.ServiceProxy().Start(key, std::move(completion))) {
    Log(kLogLevelError, kCategoryGeneral, kAlreadyInFlight, logName.c_str());
    return Failure(kServiceProxyInFlight);
  }
  return {};
}

}  // namespace Quarn::ServiceProxyDetail
