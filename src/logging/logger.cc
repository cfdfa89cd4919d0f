#include "logging/logger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "logging/categories.h"
#include "logging/console_targets.h"
#include "logging/executable_name.h"
#include "logging/line_format.h"
#include "logging/timestamps.h"
#include "port/lock.h"

namespace qmx {
namespace {

constexpr size_t kMessageSize = 4096;
constexpr const char* kUnknownExecutable = "<unknown>";

struct Logger {
  std::recursive_mutex lock;
  // The sink interfaces of the attached targets, in attach order.
  std::vector<LogSink*> sinks;
  std::atomic<int32_t> minLevel{kLogWarn};
  std::atomic<uint64_t> mutedCategories{kCategoryXtr};
  std::atomic<bool> suspended{false};
  bool flag = false;  // kept for the interface; logging ignores it
  char executableName[1024] = "<unknown>";
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debugger;
};

// Guards creation, destruction and the reference count.
constinit port::Mutex lifetime;
constinit std::atomic<Logger*> current{nullptr};
constinit int references = 0;

Logger* CreateLocked() {
  Logger* logger = nullptr;
  try {
    logger = new Logger();
  } catch (...) {
    return nullptr;
  }
  ReadExecutableName(logger->executableName, sizeof logger->executableName);
  current.store(logger);
  logger->stdErr.Attach();
  logger->debugger.Attach();
  return logger;
}

void DestroyLocked() {
  Logger* logger = current.load();
  if (logger == nullptr) return;
  {
    std::lock_guard guard(logger->lock);
    while (!logger->sinks.empty()) {
      LogSink* sink = logger->sinks.back();
      sink->detach(sink);
      // An interface added by AttachTarget has no attached flag; its detach
      // leaves it in the list.
      std::erase(logger->sinks, sink);
    }
  }
  current.store(nullptr);
  delete logger;
}

Logger* EnsureLogger() {
  Logger* logger = current.load();
  if (logger != nullptr) return logger;
  std::lock_guard guard(lifetime);
  logger = current.load();
  return logger != nullptr ? logger : CreateLocked();
}

// A logger that Log created on demand and nobody released is freed when the
// runtime is unloaded.
struct OrphanReaper {
  ~OrphanReaper() {
    std::lock_guard guard(lifetime);
    if (references == 0) DestroyLocked();
  }
} reaper;

bool Accepts(LogSink* sink, const LogRecord& record) {
  if (record.level < sink->getMinLevel(sink)) return false;
  if (record.categories == 0) return true;
  if ((record.categories & sink->getExcludeMask(sink)) != 0) return false;
  uint64_t include = sink->getIncludeMask(sink);
  return include == 0 || (record.categories & include) != 0;
}

template <typename F>
auto WithLogger(F&& body, decltype(body(*static_cast<Logger*>(nullptr))) fallback) {
  Logger* logger = current.load();
  if (logger == nullptr) return fallback;
  std::lock_guard guard(logger->lock);
  return body(*logger);
}

template <typename F>
void WithLoggerVoid(F&& body) {
  Logger* logger = current.load();
  if (logger == nullptr) return;
  std::lock_guard guard(logger->lock);
  body(*logger);
}

}  // namespace

void AcquireLogger() {
  std::lock_guard guard(lifetime);
  if (current.load() == nullptr && CreateLocked() == nullptr) return;
  ++references;
}

void ReleaseLogger() {
  std::lock_guard guard(lifetime);
  if (references == 0) return;
  if (--references == 0) DestroyLocked();
}

void SetMinLevel(int32_t level) {
  WithLoggerVoid([&](Logger& l) { l.minLevel.store(level); });
}

int32_t GetMinLevel() {
  return WithLogger([](Logger& l) { return l.minLevel.load(); }, kLogWarn);
}

void SetMutedCategories(uint64_t mask) {
  WithLoggerVoid([&](Logger& l) { l.mutedCategories.store(mask); });
}

uint64_t GetMutedCategories() {
  return WithLogger([](Logger& l) { return l.mutedCategories.load(); }, kCategoryXtr);
}

void Suspend() {
  WithLoggerVoid([](Logger& l) { l.suspended.store(true); });
}

void Resume() {
  WithLoggerVoid([](Logger& l) { l.suspended.store(false); });
}

bool AttachTarget(LogSink* sink) {
  if (sink == nullptr) return false;
  return WithLogger(
      [&](Logger& l) {
        try {
          l.sinks.push_back(sink);
          return true;
        } catch (...) {
          return false;
        }
      },
      false);
}

void WithLoggerLock(void (*body)(void* context), void* context) {
  Logger* logger = current.load();
  if (logger == nullptr) {
    body(context);
    return;
  }
  std::lock_guard guard(logger->lock);
  body(context);
}

void DetachTarget(LogSink* sink) {
  WithLoggerVoid([&](Logger& l) { std::erase(l.sinks, sink); });
}

LogSink* FindTarget(const char* name) {
  if (name == nullptr) return nullptr;
  return WithLogger(
      [&](Logger& l) -> LogSink* {
        for (LogSink* sink : l.sinks) {
          const char* targetName = sink->getName(sink);
          if (targetName != nullptr && std::strcmp(targetName, name) == 0) return sink;
        }
        return nullptr;
      },
      static_cast<LogSink*>(nullptr));
}

LogSink* StdOutTarget() {
  return WithLogger([](Logger& l) { return l.stdOut.Sink(); }, static_cast<LogSink*>(nullptr));
}

LogSink* StdErrTarget() {
  return WithLogger([](Logger& l) { return l.stdErr.Sink(); }, static_cast<LogSink*>(nullptr));
}

LogSink* DebuggerConsoleTarget() {
  return WithLogger([](Logger& l) { return l.debugger.Sink(); }, static_cast<LogSink*>(nullptr));
}

const char* ExecutableName() {
  Logger* logger = current.load();
  return logger == nullptr ? kUnknownExecutable : logger->executableName;
}

void LogV(int32_t level, uint64_t categories, const char* format, va_list args) {
  Logger* logger = EnsureLogger();
  if (logger == nullptr) return;
  if (logger->suspended.load() || level < logger->minLevel.load() ||
      (categories & logger->mutedCategories.load()) != 0) {
    return;
  }
  char message[kMessageSize];
  if (format == nullptr || std::vsnprintf(message, sizeof message, format, args) < 0) message[0] = '\0';
  LogRecord record;
  Now(record);
  record.level = level;
  record.categories = categories;
  record.message = message;
  std::lock_guard guard(logger->lock);
  // By index: a target's Write may log again and attach or detach targets.
  for (size_t i = 0; i < logger->sinks.size(); ++i) {
    LogSink* sink = logger->sinks[i];
    if (Accepts(sink, record)) sink->write(sink, &record);
  }
}

void Log(int32_t level, uint64_t categories, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, categories, format, args);
  va_end(args);
}

const LoggerInterface& GetLoggerInterface() {
  static constexpr LoggerInterface kInterface = {
      []() -> int32_t { return 1; },
      &AcquireLogger,
      &ReleaseLogger,
      &SetMinLevel,
      &GetMinLevel,
      [](uint32_t low, uint32_t high) { SetMutedCategories((uint64_t{high} << 32) | low); },
      &GetMutedCategories,
      &Suspend,
      &Resume,
      []() { WithLoggerVoid([](Logger& l) { l.flag = true; }); },
      []() { WithLoggerVoid([](Logger& l) { l.flag = false; }); },
      [](LogSink* sink) { (void)AttachTarget(sink); },
      &DetachTarget,
      &FindTarget,
      &StdOutTarget,
      &StdErrTarget,
      &DebuggerConsoleTarget,
      [](uint64_t* out, const char* code) {
        uint64_t mask = CategoryMask(code);
        if (out != nullptr) *out = mask;
        return mask;
      },
      &CategoryNames,
      [](char* buffer, size_t size, const char* format, const LogRecord* record) -> size_t {
        if (record == nullptr) return 0;
        return FormatLine(buffer, size, format, *record);
      },
      &LevelName,
      &ExecutableName,
      [](LogRecord* record) {
        if (record != nullptr) Now(*record);
      },
      [](char* buffer, size_t size, const LogRecord* record) -> size_t {
        return record == nullptr ? 0 : FormatTimestamp(buffer, size, *record);
      },
      [](char* buffer, size_t size, const LogRecord* record) -> size_t {
        return record == nullptr ? 0 : FormatFileTimestamp(buffer, size, *record);
      },
      [](int32_t level, uint32_t low, uint32_t high, const char* format, va_list args) {
        LogV(level, (uint64_t{high} << 32) | low, format, args);
      },
  };
  return kInterface;
}

}  // namespace qmx
