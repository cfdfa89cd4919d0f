#include "logging/log_target.h"

#include "logging/line_format.h"
#include "logging/logger.h"

namespace qmx {
namespace {

LogTarget& Owner(LogSink* sink) { return *sink->owner; }

uint64_t Join(uint32_t low, uint32_t high) { return (uint64_t{high} << 32) | low; }

constexpr LogSink kDefaultSink = {
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
    [](LogSink*, const LogRecord*) { return false; },
    nullptr,
};

}  // namespace

LogTarget::LogTarget(const LogTargetSettings& settings)
    : sink_(kDefaultSink),
      minLevel_(settings.minLevel),
      includeMask_(settings.includeMask & ~settings.excludeMask),
      excludeMask_(settings.excludeMask),
      format_(settings.format) {
  sink_.owner = this;
}

// A derived class should detach itself first; if it did not, the interface is
// still taken out of the logger's list here, so that the logger never calls
// into a destroyed object.
LogTarget::~LogTarget() {
  if (attached_) DetachTarget(&sink_);
}

void LogTarget::BindWrite() {
  sink_.write = [](LogSink* s, const LogRecord* record) { return record != nullptr && Owner(s).Write(*record); };
}

void LogTarget::Attach() {
  std::lock_guard guard(lock_);
  if (!attached_) attached_ = AttachToLogger(&sink_);
}

void LogTarget::Detach() {
  std::lock_guard guard(lock_);
  if (!attached_) return;
  DetachTarget(&sink_);
  attached_ = false;
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
  std::lock_guard guard(lock_);
  Detach();
  minLevel_ = settings.minLevel;
  includeMask_ = settings.includeMask;
  excludeMask_ = settings.excludeMask;
  format_ = settings.format;
  Attach();
  SetMinLevel(settings.minLevel);
  SetMasks(settings.includeMask, settings.excludeMask);
}

size_t LogTarget::Render(const LogRecord& record, char* buffer, size_t size) const {
  std::lock_guard guard(lock_);
  return FormatLine(buffer, size, format_.c_str(), record);
}

}  // namespace qmx
