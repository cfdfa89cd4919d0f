#include "plugin/plugin_log_target.h"

namespace qmx {

void PluginLogTarget::Output(const LogRecord& record, const char* line) {
  if (api_ != nullptr && api_->WriteLog != nullptr) api_->WriteLog(api_, record.level, line);
}

}  // namespace qmx
