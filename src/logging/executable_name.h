// The running executable's file name, as log lines print it.
#pragma once

#include <cstddef>

namespace qmx {

// Writes the file name part of the executable's path (after the last
// backslash on Windows, the last '/' elsewhere) into buffer (cut to fit);
// leaves buffer unchanged and returns false when the path cannot be read.
bool ReadExecutableName(char* buffer, size_t size);

}  // namespace qmx
