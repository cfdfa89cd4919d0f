// Renders a log record into a line with a format of '#' tokens:
//   #D the record's time (2021-11-09T10:20:30.456)   #E the executable's name
//   #G the category names (DBG;NET)                  #H seconds since start (000012.345)
//   #L the level name ("  WARN")                     #M the message
//   #T the current thread's id ("%p")                #x any other character x itself
// The line always ends with exactly one line feed, and it is cut so that the
// line feed and the NUL fit the buffer.
#pragma once

#include <cstddef>

#include "logging/log_record.h"

namespace qmx {

inline constexpr const char* kDefaultLineFormat = "#D| #L| #G| #M";
inline constexpr const char* kConsoleLineFormat = "#E(#T): #L| #M";
inline constexpr const char* kMessageOnlyLineFormat = "#M";

// Returns the length written (line feed included). A buffer of fewer than two
// bytes receives only what fits of the NUL.
size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record);

}  // namespace qmx
