// Message templates: numbered placeholders ("%1", "%2$5s") filled with typed
// arguments. The named form ("{method}"), which the request client uses, is
// in plugin/named_message.h and turns into this one.
//
// Numbered grammar: "%%" is one '%'. "%N" (N = 1..argument count) prints
// argument N with its type's default conversion; "%N$spec" prints it with a
// printf specification (flags, width, precision, length, conversion). A '%'
// with no digits, or with a number beyond the arguments, reads the digits as a
// width and takes the next argument of a sequence counter that only such
// unnumbered placeholders advance. A conversion the argument's type does not
// accept is replaced by the type's default; the length modifier always comes
// from the argument's type, so a specification can never make printf read
// the argument with the wrong size. A '*' width or precision takes the next
// argument of the sequence counter (an integer gives its value, any other type
// 0). A missing argument, a specification longer than 59 characters, or a
// template that ends inside a placeholder ends the text there.
//
// Output goes to a fixed buffer; the text is cut at size - 1 characters and
// never overruns. Nothing here throws except std::bad_alloc when the result is
// copied into a std::string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qmx {

// The size of every message buffer; results hold at most kMessageBufferSize - 1
// characters.
inline constexpr size_t kMessageBufferSize = 4096;

// One argument of a formatting call.
struct FormatArg {
  enum class Type : uint8_t { Text, Int32, UInt32, Int64, UInt64, Double };

  FormatArg(const char* value) : type(Type::Text), text(value) {}
  FormatArg(const std::string& value) : type(Type::Text), text(value.c_str()) {}
  FormatArg(double value) : type(Type::Double), real(value) {}
  FormatArg(float value) : type(Type::Double), real(value) {}
  template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
  FormatArg(T value) {
    if constexpr (std::is_signed_v<T>) {
      if constexpr (sizeof(T) <= 4) {
        type = Type::Int32;
        i32 = static_cast<int32_t>(value);
      } else {
        type = Type::Int64;
        i64 = static_cast<int64_t>(value);
      }
    } else {
      if constexpr (sizeof(T) <= 4) {
        type = Type::UInt32;
        u32 = static_cast<uint32_t>(value);
      } else {
        type = Type::UInt64;
        u64 = static_cast<uint64_t>(value);
      }
    }
  }

  Type type;
  union {
    const char* text;  // null prints as the empty text
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    uint64_t u64;
    double real;
  };
};

// Formats into buffer (size bytes, size >= 1) and returns the length written;
// buffer is always NUL-terminated.
size_t FormatInto(char* buffer, size_t size, const char* format, std::span<const FormatArg> args);

// The length of the printf specification that starts at spec (the character
// after '%'), conversion character included, or nothing when the text ends
// before a conversion character.
std::optional<size_t> SpecificationLength(const char* spec);

// Formats into a kMessageBufferSize stack buffer and returns the text.
std::string FormatMessageArgs(const char* format, std::span<const FormatArg> args);

// The numbered form with text arguments only (copied so that each ends in a NUL).
std::string FormatMessageTexts(const char* format, std::initializer_list<std::string_view> texts);

template <typename... Args>
std::string FormatMessage(const char* format, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return FormatMessageArgs(format, list);
}

}  // namespace qmx
