// The numbered and the named template formatters (see message_format.h).
//
// Over 400 lines on purpose: the named form is rewritten into numbered
// placeholders and shares the numbered form's placeholder parser and its
// argument printing, the two places where printf's safety rules (clamped
// widths, allowed flags, lengths from the argument type) live. Splitting the
// file would put those rules behind a header of their own for one user.

#include "plugin/message_format.h"

#include <algorithm>
#include <cstdio>
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
// at p. Returns the number of characters taken (conversion included), or 0
// when the template ends before a conversion character.
size_t ParseSpec(const char* start, Spec& spec) {
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
  if (*p == '\0') return 0;
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
      size_t length = ParseSpec(q, spec);
      if (length == 0 || length > kMaxSpecLength) break;
      p = q + length;
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

std::string FormatMessageArgs(const char* format, std::span<const FormatArg> args) {
  char buffer[kMessageBufferSize];
  size_t length = FormatInto(buffer, sizeof buffer, format, args);
  return std::string(buffer, length);
}

namespace {

bool HasKindSuffix(std::string_view name) {
  size_t underscore = name.rfind('_');
  if (underscore == std::string_view::npos) return false;
  std::string_view suffix = name.substr(underscore);
  for (std::string_view known : {"_bool", "_int", "_long", "_float", "_str", "_time", "_ip"}) {
    if (suffix == known) return true;
  }
  return false;
}

const char* KindSuffix(ValueKind kind) {
  switch (kind) {
    case ValueKind::Bool: return "_bool";
    case ValueKind::Signed:
    case ValueKind::Unsigned: return "_int";
    case ValueKind::Float: return "_float";
    case ValueKind::String: return "_str";
    default: return "";
  }
}

bool IsFalsy(const Value& value) {
  switch (value.Kind()) {
    case ValueKind::Bool: return !value.GetBool();
    case ValueKind::Signed: return value.GetSigned() == 0;
    case ValueKind::Unsigned: return value.GetUnsigned() == 0;
    case ValueKind::Float: return value.GetFloat() == 0.0;
    case ValueKind::String: return value.GetString().empty();
    default: return false;
  }
}

struct Placeholder {
  std::string name;
  std::string spec;
  std::string alternative;
  std::string conversion;
  std::string raw;  // the copied text of a raw printf placeholder
  bool isRaw = false;
  bool hasAlternative = false;
  bool silent = false;
  bool suffix = false;
};

void Render(const Placeholder& placeholder, size_t number, std::span<Value> converted, Value& fields,
            std::string& out) {
  if (number > converted.size()) return;
  Value& value = converted[number - 1];
  std::string spec = placeholder.spec;
  if (placeholder.conversion == "str") {
    std::string text = value.ToString();
    value.SetString(text);
  } else if (placeholder.conversion == "hex" &&
             (value.Kind() == ValueKind::Signed || value.Kind() == ValueKind::Unsigned)) {
    char text[24];
    auto bits = value.Kind() == ValueKind::Signed ? static_cast<unsigned long long>(value.GetSigned())
                                                  : static_cast<unsigned long long>(value.GetUnsigned());
    std::snprintf(text, sizeof text, "%016llX", bits);
    value.SetString(text);
    spec = "016llX";
  }
  std::string name = placeholder.name;
  if (placeholder.suffix && !HasKindSuffix(name)) name += KindSuffix(value.Kind());
  if (placeholder.hasAlternative && IsFalsy(value)) {
    out += placeholder.alternative;
    return;
  }
  if (!name.empty()) fields.Member(name).Assign(value);
  if (placeholder.silent) {
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t' || out.back() == '\n' ||
                            out.back() == '\r' || out.back() == '\v' || out.back() == '\f')) {
      out.pop_back();
    }
    return;
  }
  if (placeholder.isRaw) {
    out += placeholder.raw;
    return;
  }
  out += '%';
  out += std::to_string(number);
  if (!spec.empty()) {
    out += '$';
    out += spec;
  }
}

}  // namespace

std::string NumberNamedTemplate(const char* format, std::span<const Value> values, Value& fields,
                                std::span<Value> converted) {
  fields.MakeStructure();
  for (size_t i = 0; i < values.size() && i < converted.size(); ++i) converted[i].Assign(values[i]);
  converted = converted.first(std::min(values.size(), converted.size()));
  std::string out;
  if (format == nullptr) return out;
  size_t number = 0;
  const char* p = format;
  while (*p != '\0') {
    if (p[0] == '{' && p[1] == '{') {
      out += '{';
      p += 2;
    } else if (p[0] == '}') {
      out += '}';
      p += p[1] == '}' ? 2 : 1;
    } else if (p[0] == '%' && p[1] == '%') {
      out += "%%";
      p += 2;
    } else if (p[0] == '%') {
      Spec spec;
      size_t length = ParseSpec(p + 1, spec);
      if (length == 0) {
        out += *p++;
        continue;
      }
      Placeholder placeholder;
      placeholder.isRaw = true;
      placeholder.raw.assign(p, length + 1);
      p += length + 1;
      Render(placeholder, ++number, converted, fields, out);
    } else if (p[0] == '{') {
      Placeholder placeholder;
      ++p;
      if (*p == '#') {
        placeholder.suffix = true;
        ++p;
      }
      std::string* target = &placeholder.name;
      bool closed = false;
      while (*p != '\0') {
        char c = *p++;
        if (c == '}') {
          closed = true;
          break;
        }
        switch (c) {
          case ':': target = &placeholder.spec; break;
          case '?':
            target = &placeholder.alternative;
            placeholder.hasAlternative = true;
            break;
          case '@': target = &placeholder.conversion; break;
          case '!': placeholder.silent = true; break;
          case '{': break;
          case '\\':
            if (*p != '\0') *target += *p++;
            break;
          default: *target += c;
        }
      }
      if (!closed) break;
      Render(placeholder, ++number, converted, fields, out);
    } else {
      out += *p++;
    }
  }
  return out;
}

NamedMessage FormatNamed(const char* format, std::span<const Value> values) {
  NamedMessage result;
  std::vector<Value> converted(values.size());
  std::string numbered = NumberNamedTemplate(format, values, result.fields, converted);
  std::vector<std::string> texts(converted.size());
  std::vector<FormatArg> args;
  args.reserve(converted.size());
  for (size_t i = 0; i < converted.size(); ++i) {
    const Value& value = converted[i];
    switch (value.Kind()) {
      case ValueKind::Bool: args.emplace_back(value.GetBool() ? 1 : 0); break;
      case ValueKind::Signed: args.emplace_back(value.GetSigned()); break;
      case ValueKind::Unsigned: args.emplace_back(value.GetUnsigned()); break;
      case ValueKind::Float: args.emplace_back(value.GetFloat()); break;
      case ValueKind::Enum: args.emplace_back(value.GetEnum().number); break;
      case ValueKind::String:
        texts[i] = value.GetString();
        args.emplace_back(texts[i]);
        break;
      default:
        texts[i] = value.ToString();
        args.emplace_back(texts[i]);
    }
  }
  result.text = FormatMessageArgs(numbered.c_str(), args);
  return result;
}

std::string FormatMessageTexts(const char* format, std::initializer_list<std::string_view> texts) {
  std::vector<std::string> owned(texts.begin(), texts.end());
  std::vector<FormatArg> args;
  args.reserve(owned.size());
  for (const std::string& text : owned) args.emplace_back(text);
  return FormatMessageArgs(format, args);
}

}  // namespace qmx
