#include "logging/timestamps.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace qmx {
namespace {

size_t Written(int result, size_t size) {
  if (result < 0 || size == 0) return 0;
  return static_cast<size_t>(result) < size ? static_cast<size_t>(result) : size - 1;
}

}  // namespace

void Now(LogRecord& record) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  record.year = local.tm_year + 1900;
  record.month = local.tm_mon + 1;
  record.day = local.tm_mday;
  record.hour = local.tm_hour;
  record.minute = local.tm_min;
  record.second = local.tm_sec;
  record.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
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
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point start = Clock::now();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace qmx
