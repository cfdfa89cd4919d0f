#include "messages/message_format.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <cstring>
#include <string_view>
#include <vector>

namespace qmx {
namespace {

// Longest accepted specification, from the character after '%' (or '$') up to
// and including the conversion character.
constexpr size_t kMaxSpecLength = 59;

// Widths and precisions beyond the buffer cannot change what fits; clamping
// them keeps printf from padding into the void for a hostile "%999999999d".
constexpr long kMaxWidth = static_cast<long>(kMessageBufferSize);

struct Spec {
  bool minus = false, plus = false, blank = false, alternate = false, zero = false;
  bool hasWidth = false, widthStar = false;
  long width = 0;
  bool hasPrecision = false, precisionStar = false;
  long precision = 0;
  char conversion = '\0';
};

long Clamp(long long value) {
  if (value > kMaxWidth) return kMaxWidth;
  if (value < -kMaxWidth) return -kMaxWidth;
  return static_cast<long>(value);
}

long ReadNumber(const char*& p) {
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value <= kMaxWidth) value = value * 10 + (*p - '0');
    ++p;
  }
  return Clamp(value);
}

// Parses flags, width, precision, length and the conversion character starting
// at p. Returns the number of characters taken (conversion included), or
// nothing when the template ends before a conversion character.
std::optional<size_t> ParseSpec(const char* start, Spec& spec) {
  const char* p = start;
  for (;; ++p) {
    if (*p == '-') spec.minus = true;
    else if (*p == '+') spec.plus = true;
    else if (*p == ' ') spec.blank = true;
    else if (*p == '#') spec.alternate = true;
    else if (*p == '0') spec.zero = true;
    else break;
  }
  if (*p == '*') {
    spec.hasWidth = spec.widthStar = true;
    ++p;
  } else if (*p >= '1' && *p <= '9') {
    spec.hasWidth = true;
    spec.width = ReadNumber(p);
  }
  if (*p == '.') {
    ++p;
    spec.hasPrecision = true;
    if (*p == '*') {
      spec.precisionStar = true;
      ++p;
    } else {
      spec.precision = ReadNumber(p);
    }
  }
  // The length modifier is read and dropped: the argument's own type decides it.
  if (*p == 'h' || *p == 'l') {
    char letter = *p++;
    if (*p == letter) ++p;
  } else if (*p == 'L' || *p == 'j' || *p == 't' || *p == 'z') {
    ++p;
  }
  if (*p == '\0') return std::nullopt;
  spec.conversion = *p++;
  return static_cast<size_t>(p - start);
}

const char* AcceptedConversions(FormatArg::Type type) {
  switch (type) {
    case FormatArg::Type::Text: return "s";
    case FormatArg::Type::Int32:
    case FormatArg::Type::Int64: return "dciouxX";
    case FormatArg::Type::UInt32:
    case FormatArg::Type::UInt64: return "ucdioxX";
    case FormatArg::Type::Double: return "gaefGAEF";
  }
  return "s";
}

// The flags printf defines for a conversion; others are dropped so that no
// combination reaches printf with undefined behaviour.
const char* AllowedFlags(char conversion) {
  switch (conversion) {
    case 's':
    case 'c': return "-";
    case 'd':
    case 'i': return "-+ 0";
    case 'u': return "-0";
    case 'o':
    case 'x':
    case 'X': return "-#0";
    default: return "-+ #0";
  }
}

int64_t IntegerOf(const FormatArg& arg) {
  switch (arg.type) {
    case FormatArg::Type::Int32: return arg.i32;
    case FormatArg::Type::UInt32: return arg.u32;
    case FormatArg::Type::Int64: return arg.i64;
    case FormatArg::Type::UInt64: return static_cast<int64_t>(arg.u64);
    default: return 0;
  }
}

bool IsInt64(FormatArg::Type type) {
  return type == FormatArg::Type::Int64 || type == FormatArg::Type::UInt64;
}

// Prints one argument into buffer (room bytes); returns printf's result.
int PrintArgument(char* buffer, size_t room, const Spec& spec, const FormatArg& arg) {
  char conversion = spec.conversion;
  if (std::strchr(AcceptedConversions(arg.type), conversion) == nullptr) {
    conversion = AcceptedConversions(arg.type)[0];
  }
  char format[16];
  size_t n = 0;
  format[n++] = '%';
  const char* allowed = AllowedFlags(conversion);
  const std::pair<bool, char> flags[] = {
      {spec.minus, '-'}, {spec.plus, '+'}, {spec.blank, ' '}, {spec.alternate, '#'}, {spec.zero, '0'}};
  for (const auto& [set, flag] : flags) {
    if (set && std::strchr(allowed, flag) != nullptr) format[n++] = flag;
  }
  format[n++] = '*';
  format[n++] = '.';
  format[n++] = '*';
  if (IsInt64(arg.type) && conversion != 'c') {
    format[n++] = 'l';
    format[n++] = 'l';
  }
  format[n++] = conversion;
  format[n] = '\0';
  // An absent width is width 0; an absent precision is a negative one, which
  // printf treats as not given.
  int width = spec.hasWidth ? static_cast<int>(spec.width) : 0;
  int precision = spec.hasPrecision ? static_cast<int>(spec.precision) : -1;

  const bool signedConversion = conversion == 'd' || conversion == 'i';
  switch (arg.type) {
    case FormatArg::Type::Text:
      return std::snprintf(buffer, room, format, width, precision, arg.text == nullptr ? "" : arg.text);
    case FormatArg::Type::Double:
      return std::snprintf(buffer, room, format, width, precision, arg.real);
    case FormatArg::Type::Int32:
    case FormatArg::Type::UInt32: {
      auto bits = arg.type == FormatArg::Type::Int32 ? static_cast<uint32_t>(arg.i32) : arg.u32;
      if (conversion == 'c') return std::snprintf(buffer, room, format, width, precision, static_cast<int>(bits));
      if (signedConversion) {
        return std::snprintf(buffer, room, format, width, precision, static_cast<int>(static_cast<int32_t>(bits)));
      }
      return std::snprintf(buffer, room, format, width, precision, static_cast<unsigned>(bits));
    }
    case FormatArg::Type::Int64:
    case FormatArg::Type::UInt64: {
      auto bits = arg.type == FormatArg::Type::Int64 ? static_cast<uint64_t>(arg.i64) : arg.u64;
      if (conversion == 'c') return std::snprintf(buffer, room, format, width, precision, static_cast<int>(bits));
      if (signedConversion) {
        return std::snprintf(buffer, room, format, width, precision,
                             static_cast<long long>(static_cast<int64_t>(bits)));
      }
      return std::snprintf(buffer, room, format, width, precision, static_cast<unsigned long long>(bits));
    }
  }
  return 0;
}

bool IsDefaultSpecDigit(char c) { return c >= '1' && c <= '9'; }

}  // namespace

size_t FormatInto(char* buffer, size_t size, const char* format, std::span<const FormatArg> args) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  if (format == nullptr) return 0;
  const size_t count = args.size();
  const size_t last = size - 1;  // index of the terminating NUL when full
  size_t pos = 0;
  size_t sequence = 1;  // next argument of unnumbered placeholders
  const char* p = format;
  while (*p != '\0' && pos < last) {
    if (*p != '%') {
      buffer[pos++] = *p++;
      continue;
    }
    if (p[1] == '%') {
      buffer[pos++] = '%';
      p += 2;
      continue;
    }
    const char* q = p + 1;
    size_t index = 0;
    Spec spec;
    bool plain = false;
    if (IsDefaultSpecDigit(*q)) {
      const char* r = q;
      size_t number = static_cast<size_t>(ReadNumber(r));
      if (number <= count) {
        index = number;
        if (*r == '$') {
          q = r + 1;
        } else {
          plain = true;
          p = r;
        }
      }
    }
    if (plain) {
      spec.conversion = AcceptedConversions(args[index - 1].type)[0];
    } else {
      std::optional<size_t> length = ParseSpec(q, spec);
      if (!length || *length > kMaxSpecLength) break;
      p = q + *length;
      if (spec.widthStar) {
        if (sequence > count) break;
        long long value = IntegerOf(args[sequence++ - 1]);
        spec.width = Clamp(value);
      }
      if (spec.precisionStar) {
        if (sequence > count) break;
        long long value = IntegerOf(args[sequence++ - 1]);
        spec.precision = value < 0 ? 0 : Clamp(value);
        if (value < 0) spec.hasPrecision = false;
      }
      if (index == 0) {
        if (sequence > count) break;
        index = sequence++;
      }
      if (spec.conversion == 'n') continue;
    }
    size_t room = size - pos;
    int written = PrintArgument(buffer + pos, room, spec, args[index - 1]);
    if (written < 0) {
      buffer[pos] = '\0';
      continue;
    }
    if (static_cast<size_t>(written) >= room) {
      pos = last;
      break;
    }
    pos += static_cast<size_t>(written);
  }
  buffer[pos] = '\0';
  return pos;
}

std::optional<size_t> SpecificationLength(const char* spec) {
  Spec parsed;
  return ParseSpec(spec, parsed);
}

std::string FormatMessageArgs(const char* format, std::span<const FormatArg> args) {
  char buffer[kMessageBufferSize];
  size_t length = FormatInto(buffer, sizeof buffer, format, args);
  return std::string(buffer, length);
}

std::string FormatMessageTexts(const char* format, std::initializer_list<std::string_view> texts) {
  std::vector<std::string> owned(texts.begin(), texts.end());
  std::vector<FormatArg> args;
  args.reserve(owned.size());
  for (const std::string& text : owned) args.emplace_back(text);
  return FormatMessageArgs(format, args);
}

}  // namespace qmx
