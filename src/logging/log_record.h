// The record a logger hands to its targets, and the levels.
#pragma once

#include <cstdint>

namespace qmx {

inline constexpr int32_t kLogOkay = 0;
inline constexpr int32_t kLogWarn = 1;
inline constexpr int32_t kLogError = 2;
inline constexpr int32_t kLogAlways = 3;

// Local wall-clock time of the message, its level, its category mask and the
// formatted message (valid only while a target's Write runs).
struct LogRecord {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
  int32_t level = 0;
  uint64_t categories = 0;
  const char* message = nullptr;
};

// "  OKAY", "  WARN", " ERROR", "ALWAYS" for levels 0..3; any other level gets
// "  ????" so that a stray number still renders as six characters.
const char* LevelName(int32_t level);

}  // namespace qmx
