#include "logging/log_target.h"

#include "logging/line_format.h"
#include "logging/logger.h"

namespace qmx {
namespace {

LogTarget& Owner(LogSink* sink) { return *sink->owner; }

uint64_t Join(uint32_t low, uint32_t high) { return (uint64_t{high} << 32) | low; }

constexpr size_t kLineBufferSize = 4096;

constexpr LogSink kSinkSlots = {
    [](LogSink*) -> int32_t { return 1; },
    [](LogSink* s, int32_t level) { Owner(s).SetMinLevel(level); },
    [](LogSink* s) { return Owner(s).GetMinLevel(); },
    [](LogSink* s, uint32_t il, uint32_t ih, uint32_t el, uint32_t eh) {
      Owner(s).SetMasks(Join(il, ih), Join(el, eh));
    },
    [](LogSink* s) { return Owner(s).GetIncludeMask(); },
    [](LogSink* s) { return Owner(s).GetExcludeMask(); },
    [](LogSink* s) { return Owner(s).GetName(); },
    [](LogSink* s) { return Owner(s).GetFormat(); },
    [](LogSink* s) { Owner(s).Attach(); },
    [](LogSink* s) { Owner(s).Detach(); },
    [](LogSink* s) { return Owner(s).IsAttached(); },
    [](LogSink* s, const LogRecord* record) { return record != nullptr && Owner(s).Write(*record); },
    nullptr,
};

}  // namespace

LogTarget::LogTarget(const LogTargetSettings& settings)
    : sink_(kSinkSlots),
      minLevel_(settings.minLevel),
      includeMask_(settings.includeMask & ~settings.excludeMask),
      excludeMask_(settings.excludeMask),
      format_(settings.format) {
  sink_.owner = this;
}

// Detach takes the logger's lock before the target's, like delivery, so a
// target destroyed while other threads log waits for the delivery in progress
// instead of deadlocking against it.
LogTarget::~LogTarget() { LogTarget::Detach(); }

bool LogTarget::Write(const LogRecord& record) {
  char line[kLineBufferSize];
  std::lock_guard guard(lock_);
  FormatLine(line, sizeof line, format_.c_str(), record);
  Output(record, line);
  return true;
}

// Attaching and detaching take the logger's lock before the target's, the
// order of delivery (which holds the logger's lock while it calls into the
// target); the other order deadlocks against a concurrent Log.
void LogTarget::Attach() {
  WithLoggerLock(
      [](void* self) {
        LogTarget& target = *static_cast<LogTarget*>(self);
        std::lock_guard guard(target.lock_);
        if (!target.attached_) target.attached_ = AttachTarget(&target.sink_);
      },
      this);
}

void LogTarget::Detach() {
  WithLoggerLock(
      [](void* self) {
        LogTarget& target = *static_cast<LogTarget*>(self);
        std::lock_guard guard(target.lock_);
        if (!target.attached_) return;
        DetachTarget(&target.sink_);
        target.attached_ = false;
      },
      this);
}

bool LogTarget::IsAttached() const {
  std::lock_guard guard(lock_);
  return attached_;
}

void LogTarget::SetMinLevel(int32_t level) {
  std::lock_guard guard(lock_);
  minLevel_ = level;
}

int32_t LogTarget::GetMinLevel() const {
  std::lock_guard guard(lock_);
  return minLevel_;
}

void LogTarget::SetMasks(uint64_t include, uint64_t exclude) {
  std::lock_guard guard(lock_);
  excludeMask_ = exclude;
  includeMask_ = include & ~exclude;
}

uint64_t LogTarget::GetIncludeMask() const {
  std::lock_guard guard(lock_);
  return includeMask_;
}

uint64_t LogTarget::GetExcludeMask() const {
  std::lock_guard guard(lock_);
  return excludeMask_;
}

void LogTarget::Configure(const LogTargetSettings& settings) {
  struct Call {
    LogTarget* target;
    const LogTargetSettings* settings;
  } call{this, &settings};
  WithLoggerLock(
      [](void* context) {
        LogTarget& target = *static_cast<Call*>(context)->target;
        const LogTargetSettings& settings = *static_cast<Call*>(context)->settings;
        std::lock_guard guard(target.lock_);
        target.Detach();
        target.minLevel_ = settings.minLevel;
        target.includeMask_ = settings.includeMask;
        target.excludeMask_ = settings.excludeMask;
        target.format_ = settings.format;
        target.Attach();
        target.SetMinLevel(settings.minLevel);
        target.SetMasks(settings.includeMask, settings.excludeMask);
      },
      &call);
}

}  // namespace qmx
