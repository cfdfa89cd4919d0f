// Clock readings for log records and the two timestamp texts.
#pragma once

#include <cstddef>

#include "logging/log_record.h"

namespace qmx {

// Fills the seven time fields of record with the local wall-clock time.
void Now(LogRecord& record);

// "2021-11-09T10:20:30.456" (with milliseconds) and "2021-11-09T10-20-30" (for
// file names: no milliseconds, dashes instead of colons). Both return the
// length written and cut to fit size.
size_t FormatTimestamp(char* buffer, size_t size, const LogRecord& record);
size_t FormatFileTimestamp(char* buffer, size_t size, const LogRecord& record);

// Seconds since the first call, from the monotonic clock.
double SecondsSinceStart();

}  // namespace qmx
