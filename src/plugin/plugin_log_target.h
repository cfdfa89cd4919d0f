// PluginLogTarget: hands each finished log line to the host's WriteLog slot.
#pragma once

#include "logging/log_target.h"
#include "interface/host_api.h"

namespace qmx {

class PluginLogTarget final : public LogTarget {
 public:
  // The table must outlive the target (the host keeps it until Shutdown).
  explicit PluginLogTarget(const HostApi* api) : api_(api) {}
  // Detaches before anything of the target is gone (see LogTarget).
  ~PluginLogTarget() override { Detach(); }

  const char* GetName() const override { return "PluginLogTarget"; }

 protected:
  void Output(const LogRecord& record, const char* line) override;

 private:
  const HostApi* api_;
};

}  // namespace qmx
