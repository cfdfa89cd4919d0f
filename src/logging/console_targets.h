// The console targets the logger creates for itself: standard error, standard
// output and the debugger console. Each puts out the lines the base class
// renders; each detaches first thing in its destructor, before any of its
// parts are gone, so a concurrent delivery never reaches a half-destroyed
// target.
#pragma once

#include <cstdio>

#include "logging/log_target.h"

namespace qmx {

class BaseConsoleLogTarget : public LogTarget {
 public:
  explicit BaseConsoleLogTarget(const LogTargetSettings& settings) : LogTarget(settings) {}
  const char* GetName() const override { return "BaseConsoleLogTarget"; }
  virtual void Flush() = 0;
};

class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override { Detach(); }
  const char* GetName() const override { return "StdErrLogTarget"; }
  void Flush() override;

 protected:
  void Output(const LogRecord& record, const char* line) override;
};

class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override { Detach(); }
  const char* GetName() const override { return "StdOutLogTarget"; }
  void Flush() override;
  // 1: flush standard output after every line.
  int32_t flushEachLine = 0;

 protected:
  void Output(const LogRecord& record, const char* line) override;
};

// Renders its lines like the standard-error target; this platform has no
// debugger console, so the rendered line goes nowhere.
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override { Detach(); }
  const char* GetName() const override { return "DebuggerConsoleLogTarget"; }
  void Flush() override {}

 protected:
  // Hands the line to the debugger's output.
  void Output(const LogRecord& record, const char* line) override;
};

}  // namespace qmx
