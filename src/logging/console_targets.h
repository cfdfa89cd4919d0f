// The console targets the logger creates for itself: standard error, standard
// output and the debugger console. Each detaches itself when destroyed and
// writes through its sink interface's write slot.
#pragma once

#include <cstdio>

#include "logging/log_target.h"

namespace qmx {

class BaseConsoleLogTarget : public LogTarget {
 public:
  explicit BaseConsoleLogTarget(const LogTargetSettings& settings);
  ~BaseConsoleLogTarget() override;
  const char* GetName() const override { return "BaseConsoleLogTarget"; }
  virtual void Flush() = 0;

 protected:
  // Renders record into a 4096-byte buffer and puts the line on stream, or on
  // the debugger output when stream is null.
  bool WriteLine(const LogRecord& record, std::FILE* stream, bool flush);
};

class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  const char* GetName() const override { return "StdErrLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  const char* GetName() const override { return "StdOutLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override;
  // 1: flush standard output after every line.
  int32_t flushEachLine = 0;
};

// Renders its lines like the standard-error target; this platform has no
// debugger console, so the rendered line goes nowhere.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  const char* GetName() const override { return "DebuggerConsoleLogTarget"; }
  bool Write(const LogRecord& record) override;
  void Flush() override {}
};

}  // namespace qmx
