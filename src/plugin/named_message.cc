#include "plugin/named_message.h"

#include <string>
#include <string_view>
#include <vector>

namespace qmx {
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
      std::optional<size_t> length = SpecificationLength(p + 1);
      if (!length) {
        out += *p++;
        continue;
      }
      Placeholder placeholder;
      placeholder.isRaw = true;
      placeholder.raw.assign(p, *length + 1);
      p += *length + 1;
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

}  // namespace qmx
