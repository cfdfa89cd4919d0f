#include "logging/executable_name.h"

#include <unistd.h>

#include <cstring>

namespace qmx {

bool ReadExecutableName(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return false;
  char path[1024];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return false;
  path[length] = '\0';
  const char* slash = std::strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  size_t nameLength = std::strlen(name);
  if (nameLength >= size) nameLength = size - 1;
  std::memcpy(buffer, name, nameLength);
  buffer[nameLength] = '\0';
  return true;
}

}  // namespace qmx
