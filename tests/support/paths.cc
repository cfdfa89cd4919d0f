#include "support/paths.h"

#include <sys/stat.h>

namespace qmx::test {

std::string PluginPath() { return QMX_PLUGIN_PATH; }
std::string SourceDir() { return QMX_SOURCE_DIR; }
std::string BuildDir() { return QMX_TOOLS_DIR; }

std::string CorporaDir() {
  std::string dir = SourceDir() + "/../shared/corpora";
  struct stat info;
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
}

}  // namespace qmx::test
