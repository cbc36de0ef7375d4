#include "sdk/host/plugin_log_target.h"

#include "sdk/diagnostics/log_categories.h"
#include "sdk/diagnostics/logger.h"

namespace Quarn {

PluginLogTarget::PluginLogTarget(const HostApi* api) : LogTarget(kDefaultLineFormat), api_(api) {}

PluginLogTarget::~PluginLogTarget() {
  Detach();
}

bool PluginLogTarget::Write(const LogRecord& record) {
  if (api_ == nullptr || api_->log == nullptr) return false;
  api_->log(api_, record.level, record.message);
  return true;
}

void InstallPluginLogTarget(const HostApi* api, std::unique_ptr<PluginLogTarget>& holder) {
  const LoggerApi* logger = GetLoggerApi();
  if (logger->findTarget(kPluginLogTargetName) != nullptr) return;
  logger->detachTarget(logger->stdOutTarget());
  logger->detachTarget(logger->stdErrTarget());
  logger->detachTarget(logger->debuggerTarget());
  logger->setMinimumLevel(kLogLevelOkay);
  logger->setExcludedCategories(kCategoryExtra);
  holder = std::make_unique<PluginLogTarget>(api);
  holder->SetLevel(logger->getMinimumLevel());
  holder->Attach();
}

}  // namespace Quarn
