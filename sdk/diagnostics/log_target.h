// LogTarget: the destination of log lines. A target filters by level and categories, turns each record it
// accepts into a line and outputs it. The logger sees a target only as a LogTargetApi, a table of plain
// functions, so targets built on either side of a module boundary attach to the one logger.

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "sdk/diagnostics/log_record.h"

namespace Quarn {

// A log target as the logger sees it. Every entry takes the table's own address first; the address
// identifies the target. Entries are never null. The table lives inside its target and dies with it.
struct LogTargetApi {
  std::int32_t (*interfaceVersion)(const LogTargetApi* self);  // answers 1
  void (*setLevel)(const LogTargetApi* self, std::int32_t level);
  std::int32_t (*getLevel)(const LogTargetApi* self);
  // Stores include & ~exclude as the include mask and exclude as the exclude mask.
  void (*setMasks)(const LogTargetApi* self, std::uint32_t includeLow, std::uint32_t includeHigh,
                   std::uint32_t excludeLow, std::uint32_t excludeHigh);
  std::uint64_t (*getIncludeMask)(const LogTargetApi* self);
  std::uint64_t (*getExcludeMask)(const LogTargetApi* self);
  const char* (*name)(const LogTargetApi* self);
  const char* (*format)(const LogTargetApi* self, const LogRecord* record);
  void (*attach)(const LogTargetApi* self);
  void (*detach)(const LogTargetApi* self);
  bool (*isAttached)(const LogTargetApi* self);
  // Outputs one record; answers whether anything was written.
  bool (*write)(const LogTargetApi* self, const LogRecord* record);
};

// The version answered by LogTargetApi::interfaceVersion.
inline constexpr std::int32_t kLogTargetInterfaceVersion = 1;

// The line format a target starts with.
inline constexpr const char* kDefaultLineFormat = "#D| #L| #G| #M";

// The base of all log targets. Starts at level 1 with empty masks, the default line format and not
// attached. The base writes nothing; subclasses override Write (and usually Name and Flush). Settings
// and output are guarded by the target's own lock; attaching and detaching may happen from any thread.
class LogTarget {
 public:
  explicit LogTarget(const char* lineFormat = kDefaultLineFormat);
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Detaches the target from the logger first.
  virtual ~LogTarget();

  // Removes the target from the logger's list; does nothing when it is not attached.
  virtual void Detach();

  // The target's class name, e.g. "LogTarget"; the logger finds targets by it.
  [[nodiscard]] virtual const char* Name() const;

  // The line format used for `record`.
  [[nodiscard]] virtual const char* Format(const LogRecord& record) const;

  // Outputs `record`; answers whether anything was written. The base writes nothing.
  virtual bool Write(const LogRecord& record);

  // Pushes buffered output to its destination.
  virtual void Flush();

  // Appends the target to the logger's list; does nothing when it is already attached.
  void Attach();
  [[nodiscard]] bool IsAttached() const;

  void SetLevel(std::int32_t level);
  [[nodiscard]] std::int32_t Level() const;

  // The include mask becomes include & ~exclude, so a category in both masks is excluded.
  void SetMasks(std::uint64_t include, std::uint64_t exclude);
  [[nodiscard]] std::uint64_t IncludeMask() const;
  [[nodiscard]] std::uint64_t ExcludeMask() const;

  // The table through which the logger reaches this target.
  [[nodiscard]] const LogTargetApi* Api() const { return &binding_.api; }

  // The target behind a table handed out by Api(). REQUIRES: `api` came from Api().
  [[nodiscard]] static LogTarget* FromApi(const LogTargetApi* api);

 protected:
  // Guards the target's output; subclasses hold it while they write.
  std::mutex& OutputLock() const { return lock_; }

 private:
  // The table comes first so that its address is the binding's address.
  struct Binding {
    LogTargetApi api;
    LogTarget* target;
  };

  void DetachFromLogger();

  Binding binding_;
  mutable std::mutex lock_;
  std::int32_t level_ = kLogLevelWarning;
  std::uint64_t includeMask_ = 0;
  std::uint64_t excludeMask_ = 0;
  const char* lineFormat_;
  std::atomic<bool> attached_{false};
};

}  // namespace Quarn
