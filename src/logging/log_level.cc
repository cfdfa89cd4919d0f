#include "logging/log_record.h"

namespace qmx {

const char* LevelName(int32_t level) {
  static const char* const kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= 0 && level <= 3 ? kNames[level] : "  ????";
}

}  // namespace qmx
