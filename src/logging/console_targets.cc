#include "logging/console_targets.h"

#include "logging/categories.h"
#include "logging/line_format.h"
#include "port/debugger.h"

namespace qmx {
namespace {

constexpr size_t kLineBufferSize = 4096;

LogTargetSettings Settings(uint64_t include, uint64_t exclude, const char* format) {
  LogTargetSettings settings;
  settings.minLevel = kLogWarn;
  settings.includeMask = include;
  settings.excludeMask = exclude;
  settings.format = format;
  return settings;
}

}  // namespace

BaseConsoleLogTarget::BaseConsoleLogTarget(const LogTargetSettings& settings) : LogTarget(settings) {
  BindWrite();
}

BaseConsoleLogTarget::~BaseConsoleLogTarget() {
  std::lock_guard guard(Lock());
  LogTarget::Detach();
}

bool BaseConsoleLogTarget::WriteLine(const LogRecord& record, std::FILE* stream, bool flush) {
  char line[kLineBufferSize];
  Render(record, line, sizeof line);
  std::lock_guard guard(Lock());
  if (stream != nullptr) {
    std::fputs(line, stream);
    if (flush) std::fflush(stream);
  } else {
    port::WriteDebuggerOutput(line);
  }
  return true;
}

StdErrLogTarget::StdErrLogTarget() : BaseConsoleLogTarget(Settings(kCategoryDbg, kCategoryGen, kConsoleLineFormat)) {}

bool StdErrLogTarget::Write(const LogRecord& record) { return WriteLine(record, stderr, false); }

void StdErrLogTarget::Flush() { std::fflush(stderr); }

StdOutLogTarget::StdOutLogTarget()
    : BaseConsoleLogTarget(Settings(kCategoryGen, kCategoryDbg, kMessageOnlyLineFormat)) {}

bool StdOutLogTarget::Write(const LogRecord& record) { return WriteLine(record, stdout, flushEachLine == 1); }

void StdOutLogTarget::Flush() { std::fflush(stdout); }

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget()
    : BaseConsoleLogTarget(Settings(kCategoryDbg, 0, kConsoleLineFormat)) {}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) { return WriteLine(record, nullptr, false); }

}  // namespace qmx
