// PluginLogTarget: the log target that hands every accepted log line to the host core's log.

#pragma once

#include <memory>

#include "plugin/plugin_abi.h"
#include "sdk/diagnostics/log_target.h"

namespace Quarn {

// The name the logger finds the host's target by.
inline constexpr const char* kPluginLogTargetName = "PluginLogTarget";

// Forwards each record's level and message text to HostApi.log. Holds the table, which the host core
// keeps valid from Initialize to Shutdown; the target must be destroyed (and so detached) before then.
class PluginLogTarget : public LogTarget {
 public:
  explicit PluginLogTarget(const HostApi* api);
  ~PluginLogTarget() override;

  [[nodiscard]] const char* Name() const override { return kPluginLogTargetName; }
  bool Write(const LogRecord& record) override;

 private:
  const HostApi* api_;
};

// Routes the process's logging to the host core, unless a target named "PluginLogTarget" is attached
// already (then nothing changes): the built-in console targets are detached, the logger's minimum
// level becomes 0 and its excluded categories "XTR", and a new PluginLogTarget at that level replaces
// (and destroys) the one in `holder`, attached to the logger.
void InstallPluginLogTarget(const HostApi* api, std::unique_ptr<PluginLogTarget>& holder);

}  // namespace Quarn
