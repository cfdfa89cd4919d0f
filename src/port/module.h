// The running executable.
#pragma once

#include <cstddef>

namespace qmx::port {

// Writes the file name of the running executable (the last component of its
// full path: after the last backslash on Windows, the last slash elsewhere),
// NUL-terminated and cut to fit, into buffer. Returns false, leaving buffer
// untouched, when the path cannot be read or buffer is empty.
bool ExecutableFileName(char* buffer, size_t size);

// Writes the full path of the running executable, NUL-terminated, into path
// (size bytes). Returns false when the path cannot be read or does not fit.
bool ExecutablePath(char* path, size_t size);

// The last component of path: what follows the last separator of this
// platform (backslash on Windows, slash elsewhere).
const char* FileNamePart(const char* path);

}  // namespace qmx::port
