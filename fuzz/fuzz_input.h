// Reads one fuzz input front to back for the targets that draw several fields
// from it: single bytes, big-endian 64-bit words and texts of a given length.
// Past the end every byte reads as 0 and every text is cut short, so a target
// can ask for whatever it needs without checking the size first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmx::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Bytes read so far.
  size_t Consumed() const { return position_; }

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint64_t Word() {
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | Byte();
    return word;
  }
  // The next length bytes, fewer where the input ends first.
  std::string Text(size_t length) {
    length = std::min(length, size_ - position_);
    std::string text(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length;
    return text;
  }
  // Everything not read yet.
  std::string Rest() { return Text(size_ - position_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// The bytes of an input as text, for the targets that read it whole.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace qmx::fuzz
