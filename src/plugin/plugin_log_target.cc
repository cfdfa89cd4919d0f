#include "plugin/plugin_log_target.h"

namespace qmx {

PluginLogTarget::PluginLogTarget(const HostApi* api) : api_(api) { BindWrite(); }

PluginLogTarget::~PluginLogTarget() {
  std::lock_guard guard(Lock());
  LogTarget::Detach();
}

bool PluginLogTarget::Write(const LogRecord& record) {
  char line[4096];
  Render(record, line, sizeof line);
  std::lock_guard guard(Lock());
  if (api_ != nullptr && api_->WriteLog != nullptr) api_->WriteLog(api_, record.level, line);
  return true;
}

}  // namespace qmx
