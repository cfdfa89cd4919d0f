#include "port/module.h"

#include <cstring>

namespace qmx::port {

bool ExecutableFileName(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return false;
  char path[1024];
  if (!ExecutablePath(path, sizeof path)) return false;
  const char* name = FileNamePart(path);
  size_t nameLength = std::strlen(name);
  if (nameLength >= size) nameLength = size - 1;
  std::memcpy(buffer, name, nameLength);
  buffer[nameLength] = '\0';
  return true;
}

}  // namespace qmx::port
