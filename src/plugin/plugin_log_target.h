// PluginLogTarget: hands each finished log line to the host's WriteLog slot.
#pragma once

#include "logging/log_target.h"
#include "plugin/host_api.h"

namespace qmx {

class PluginLogTarget : public LogTarget {
 public:
  // The table must outlive the target (the host keeps it until Shutdown).
  explicit PluginLogTarget(const HostApi* api);
  ~PluginLogTarget() override;

  const char* GetName() const override { return "PluginLogTarget"; }
  bool Write(const LogRecord& record) override;

 private:
  const HostApi* api_;
};

}  // namespace qmx
