#include "logging/executable_name.h"

#include "port/module.h"

namespace qmx {

bool ReadExecutableName(char* buffer, size_t size) { return port::ExecutableFileName(buffer, size); }

}  // namespace qmx
