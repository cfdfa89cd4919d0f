// The process-wide logger.
//
// One logger per process, created by the first AcquireLogger (or by the first
// Log when nobody acquired it) and destroyed by the last ReleaseLogger. It
// keeps the list of the attached targets' sink interfaces, a minimum level
// (default WARN), a muted category mask (default XTR), a suspended flag, the
// executable's name, and three built-in console targets: standard error and
// the debugger console are attached at creation, standard output is created
// detached.
//
// Log filters by the logger's settings before taking the logger's lock and
// delivers to the targets, in attach order, under it. The logger's lock is
// recursive, so a target may log from inside its own Write.
//
// Releasing the last reference while other threads still log is the caller's
// fault: the plugin holds its reference from construction to destruction.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "logging/log_record.h"
#include "logging/log_target.h"

namespace qmx {

void AcquireLogger();
void ReleaseLogger();

// Settings; without a logger the setters do nothing and the getters return
// the defaults.
void SetMinLevel(int32_t level);
int32_t GetMinLevel();
void SetMutedCategories(uint64_t mask);
uint64_t GetMutedCategories();
void Suspend();
void Resume();

// The logger knows a target only by its sink interface: these take and
// return LogSink pointers.
//
// Appends sink to the list (no duplicate check, the target's attached flag is
// left alone). Returns whether it did: false without a logger, for a null
// sink, or when the list cannot grow. LogTarget::Attach sets its flag from
// it; the interface table's slot ignores it.
bool AttachTarget(LogSink* sink);
// Removes every occurrence of sink; does nothing without a logger.
void DetachTarget(LogSink* sink);
// The first attached interface whose name is name (exact comparison), or null.
LogSink* FindTarget(const char* name);
// Runs body(context) holding the logger's (recursive) lock, or without it when
// there is no logger. Targets change their attachment inside it so that they
// take the logger's lock before their own, the order delivery uses.
void WithLoggerLock(void (*body)(void* context), void* context);

// The built-in targets' interfaces; null without a logger.
LogSink* StdOutTarget();
LogSink* StdErrTarget();
LogSink* DebuggerConsoleTarget();

// The executable's file name, "<unknown>" without a logger or when it cannot
// be read.
const char* ExecutableName();

void Log(int32_t level, uint64_t categories, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogV(int32_t level, uint64_t categories, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// The logger's function table for users in other modules.
struct LoggerInterface {
  int32_t (*version)();
  void (*acquire)();
  void (*release)();
  void (*setMinLevel)(int32_t level);
  int32_t (*getMinLevel)();
  void (*setMutedCategories)(uint32_t low, uint32_t high);
  uint64_t (*getMutedCategories)();
  void (*suspend)();
  void (*resume)();
  void (*setFlag)();
  void (*clearFlag)();
  void (*attachTarget)(LogSink* sink);
  void (*detachTarget)(LogSink* sink);
  LogSink* (*findTarget)(const char* name);
  LogSink* (*stdOutTarget)();
  LogSink* (*stdErrTarget)();
  LogSink* (*debuggerConsoleTarget)();
  uint64_t (*categoryMask)(uint64_t* out, const char* code);
  size_t (*categoryNames)(char* buffer, size_t size, uint64_t mask);
  size_t (*formatLine)(char* buffer, size_t size, const char* format, const LogRecord* record);
  const char* (*levelName)(int32_t level);
  const char* (*executableName)();
  void (*now)(LogRecord* record);
  size_t (*formatTimestamp)(char* buffer, size_t size, const LogRecord* record);
  size_t (*formatFileTimestamp)(char* buffer, size_t size, const LogRecord* record);
  void (*logV)(int32_t level, uint32_t categoriesLow, uint32_t categoriesHigh, const char* format, va_list args);
};

const LoggerInterface& GetLoggerInterface();

}  // namespace qmx
