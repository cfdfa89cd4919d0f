#include "logging/console_targets.h"

#include "logging/categories.h"
#include "logging/line_format.h"
#include "port/debugger.h"

namespace qmx {
namespace {

LogTargetSettings Settings(uint64_t include, uint64_t exclude, const char* format) {
  LogTargetSettings settings;
  settings.minLevel = kLogWarn;
  settings.includeMask = include;
  settings.excludeMask = exclude;
  settings.format = format;
  return settings;
}

}  // namespace

StdErrLogTarget::StdErrLogTarget() : BaseConsoleLogTarget(Settings(kCategoryDbg, kCategoryGen, kConsoleLineFormat)) {}

void StdErrLogTarget::Output(const LogRecord&, const char* line) { std::fputs(line, stderr); }

void StdErrLogTarget::Flush() { std::fflush(stderr); }

StdOutLogTarget::StdOutLogTarget()
    : BaseConsoleLogTarget(Settings(kCategoryGen, kCategoryDbg, kMessageOnlyLineFormat)) {}

void StdOutLogTarget::Output(const LogRecord&, const char* line) {
  std::fputs(line, stdout);
  if (flushEachLine == 1) std::fflush(stdout);
}

void StdOutLogTarget::Flush() { std::fflush(stdout); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget()
    : BaseConsoleLogTarget(Settings(kCategoryDbg, 0, kConsoleLineFormat)) {}

void DebuggerConsoleLogTarget::Output(const LogRecord&, const char* line) {
  port::WriteDebuggerOutput(line);
}

}  // namespace qmx
