#include "logging/timestamps.h"

#include <cstdio>

#include "port/clock.h"

namespace qmx {
namespace {

size_t Written(int result, size_t size) {
  if (result < 0 || size == 0) return 0;
  return static_cast<size_t>(result) < size ? static_cast<size_t>(result) : size - 1;
}

}  // namespace

void Now(LogRecord& record) {
  port::LocalTime now = port::LocalTimeNow();
  record.year = now.year;
  record.month = now.month;
  record.day = now.day;
  record.hour = now.hour;
  record.minute = now.minute;
  record.second = now.second;
  record.millisecond = now.millisecond;
}

size_t FormatTimestamp(char* buffer, size_t size, const LogRecord& r) {
  if (buffer == nullptr) return 0;
  return Written(std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", r.year, r.month, r.day,
                               r.hour, r.minute, r.second, r.millisecond),
                 size);
}

size_t FormatFileTimestamp(char* buffer, size_t size, const LogRecord& r) {
  if (buffer == nullptr) return 0;
  return Written(std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d", r.year, r.month, r.day, r.hour,
                               r.minute, r.second),
                 size);
}

double SecondsSinceStart() {
  // The frequency is read once and kept; the start is the first call.
  static const uint64_t frequency = port::CounterFrequency();
  static const uint64_t start = port::CounterTicks();
  return static_cast<double>(port::CounterTicks() - start) / static_cast<double>(frequency);
}

}  // namespace qmx
