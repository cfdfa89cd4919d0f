#include "logging/line_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "logging/categories.h"
#include "logging/logger.h"
#include "logging/timestamps.h"
#include "port/thread.h"

namespace qmx {
namespace {

class LineWriter {
 public:
  // Keeps two bytes back for the final line feed and the NUL.
  LineWriter(char* buffer, size_t size) : buffer_(buffer), capacity_(size - 2) {}

  void Append(const char* text, size_t length) {
    size_t room = capacity_ - length_;
    if (length > room) length = room;
    std::memcpy(buffer_ + length_, text, length);
    length_ += length;
  }
  void Append(const char* text) { Append(text == nullptr ? "" : text, text == nullptr ? 0 : std::strlen(text)); }
  void Append(char c) { Append(&c, 1); }

  size_t Finish() {
    if (length_ == 0 || buffer_[length_ - 1] != '\n') buffer_[length_++] = '\n';
    buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

}  // namespace

size_t FormatLine(char* buffer, size_t size, const char* format, const LogRecord& record) {
  if (buffer == nullptr || size == 0) return 0;
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  LineWriter line(buffer, size);
  char scratch[256];
  for (const char* p = format == nullptr ? "" : format; *p != '\0'; ++p) {
    if (*p != '#') {
      line.Append(*p);
      continue;
    }
    char token = *++p;
    if (token == '\0') break;
    switch (token) {
      case 'D':
        FormatTimestamp(scratch, sizeof scratch, record);
        line.Append(scratch);
        break;
      case 'E':
        line.Append(ExecutableName());
        break;
      case 'G':
        CategoryNames(scratch, sizeof scratch, record.categories);
        line.Append(scratch);
        break;
      case 'H': {
        double seconds = SecondsSinceStart();
        auto whole = static_cast<long long>(seconds);
        auto millis = static_cast<int>((seconds - static_cast<double>(whole)) * 1000.0);
        std::snprintf(scratch, sizeof scratch, "%06lld.%03d", whole, millis);
        line.Append(scratch);
        break;
      }
      case 'L':
        line.Append(LevelName(record.level));
        break;
      case 'M':
        line.Append(record.message);
        break;
      case 'T': {
        auto thread = static_cast<uintptr_t>(port::CurrentThreadId());
        std::snprintf(scratch, sizeof scratch, "%p", reinterpret_cast<void*>(thread));
        line.Append(scratch);
        break;
      }
      default:
        line.Append(token);
    }
  }
  return line.Finish();
}

}  // namespace qmx
