#include "binding/type_id.h"

#include <cstdio>

namespace qmx {

std::string TypeId::Text() const {
  char buffer[10];
  std::snprintf(buffer, sizeof buffer, "#%08X", static_cast<unsigned>(value));
  return buffer;
}

}  // namespace qmx
