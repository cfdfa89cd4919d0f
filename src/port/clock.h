// Wall-clock local time and the monotonic high-resolution counter.
#pragma once

#include <cstdint>

namespace qmx::port {

struct LocalTime {
  int32_t year;    // e.g. 2021
  int32_t month;   // 1..12
  int32_t day;     // 1..31
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

LocalTime LocalTimeNow();

// The monotonic counter (QueryPerformanceCounter, CLOCK_MONOTONIC) and its
// ticks per second.
uint64_t CounterTicks();
uint64_t CounterFrequency();

}  // namespace qmx::port
