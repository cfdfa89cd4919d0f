#include "serialization/yaml_scalar.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "messages/message_format.h"
#include "serialization/json_number.h"

namespace qmx::serialization_detail {
namespace {

constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

constexpr const char* kIncorrectFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr const char* kOutOfRange = "Value %1 for '%2' of type %3 is out of range";
constexpr const char* kTarget = "yaml";

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

// The truth of a true or false word; nothing for any other text.
std::optional<bool> BoolWord(std::string_view text) {
  if (IsOneOf(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"})) {
    return true;
  }
  if (IsOneOf(text, {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"})) {
    return false;
  }
  return std::nullopt;
}

// The !!int and !!float tags read their text the way a String converts into a
// 64-bit or double native field, with the reader's own target name.
Result<void, std::string> ConvertInteger(const char* text, size_t length, Value& out) {
  std::string_view view(text, length);
  char* end = nullptr;
  errno = 0;
  if (length != 0 && text[0] == '-') {
    long long value = std::strtoll(text, &end, 0);
    if (end != text + length) return Fail(FormatMessageTexts(kIncorrectFormat, {view, kTarget, "int64_t"}));
    if (errno == ERANGE) return Fail(FormatMessageTexts(kOutOfRange, {view, kTarget, "int64_t"}));
    out.SetSigned(value);
    return {};
  }
  unsigned long long value = std::strtoull(text, &end, 0);
  if (end != text + length) return Fail(FormatMessageTexts(kIncorrectFormat, {view, kTarget, "uint64_t"}));
  if (errno == ERANGE) return Fail(FormatMessageTexts(kOutOfRange, {view, kTarget, "uint64_t"}));
  out.SetUnsigned(value);
  return {};
}

Result<void, std::string> ConvertReal(const char* text, size_t length, Value& out) {
  std::string_view view(text, length);
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text, &end);
  if (end != text + length) return Fail(FormatMessageTexts(kIncorrectFormat, {view, kTarget, "double"}));
  if (errno == ERANGE || value < -1.7976931348623157e308 || value > 1.7976931348623157e308) {
    return Fail(FormatMessageTexts(kOutOfRange, {view, kTarget, "double"}));
  }
  out.SetFloat(value);
  return {};
}

enum class DecimalShape { kNone, kWhole, kFraction };

// Whether text is a plain decimal: an optional "-", "0" or digits without a
// leading zero, an optional fraction and an optional exponent. strtod reads
// such a text completely when it has no fraction, and also with one when the
// decimal point is ".". kWhole and kFraction tell whether it has one.
DecimalShape PlainDecimalShape(std::string_view text) {
  auto digit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  size_t i = text.size() != 0 && text[0] == '-' ? 1 : 0;
  if (!digit(i)) return DecimalShape::kNone;
  if (text[i++] != '0') {
    while (digit(i)) ++i;
  }
  const bool fraction = i < text.size() && text[i] == '.';
  if (fraction) {
    if (!digit(++i)) return DecimalShape::kNone;
    while (digit(i)) ++i;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit(i)) return DecimalShape::kNone;
    while (digit(i)) ++i;
  }
  if (i != text.size()) return DecimalShape::kNone;
  return fraction ? DecimalShape::kFraction : DecimalShape::kWhole;
}

bool DecimalPointIsDot() {
  const char* point = std::localeconv()->decimal_point;
  return point != nullptr && point[0] == '.' && point[1] == '\0';
}

// Whether a finite or infinite double has no fractional part. Below 2^63 in
// magnitude a round trip through int64_t answers without a library call.
bool IsIntegral(double value) {
  if (std::fabs(value) < 9223372036854775808.0) {
    return static_cast<double>(static_cast<int64_t>(value)) == value;
  }
  double whole;
  return std::modf(value, &whole) == 0.0;
}

// Stores a number read from an untagged scalar: integral values in the
// 64-bit kinds, everything else as a Float.
void SetNumber(double value, Value& out) {
  if (std::isnan(value) || !IsIntegral(value)) {
    out.SetFloat(value);
  } else if (value >= 0 && value < 18446744073709551616.0) {
    out.SetUnsigned(static_cast<uint64_t>(value));
  } else if (value < 0 && value >= -9223372036854775808.0) {
    out.SetSigned(static_cast<int64_t>(value));
  } else {
    // Integral but beyond 64 bits (or -inf): no integer holds it.
    out.SetFloat(value);
  }
}

}  // namespace

// Plain decimals take the exact fast conversion where it applies, which gives
// strtod's (nearest) double.
std::optional<double> YamlScalarResolver::PlainNumber(const char* text, size_t length) {
  if (length == 0) return std::nullopt;
  std::string_view view(text, length);
  const DecimalShape shape = PlainDecimalShape(view);
  bool fast = shape != DecimalShape::kNone;
  if (shape == DecimalShape::kFraction) {
    if (decimalPointIsDot_ < 0) decimalPointIsDot_ = DecimalPointIsDot() ? 1 : 0;
    fast = decimalPointIsDot_ == 1;
  }
  if (fast) {
    if (std::optional<double> value = FastDecimalToDouble(view)) return value;
  }
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end != text + length || value == HUGE_VAL) return std::nullopt;
  return value;
}

Result<void, std::string> YamlScalarResolver::Resolve(const char* tag, const char* text,
                                                     size_t length, bool quoted, Value& out) {
  std::string_view view(text, length);
  if (tag != nullptr) {
    std::string_view name(tag);
    if (name == kStrTag) {
      out.SetString(view);
    } else if (name == kIntTag) {
      return ConvertInteger(text, length, out);
    } else if (name == kFloatTag) {
      return ConvertReal(text, length, out);
    } else if (name == kBoolTag) {
      const std::optional<bool> word = BoolWord(view);
      if (!word) return Fail(FormatMessageTexts(kIncorrectFormat, {view, kTarget, "bool"}));
      out.SetBool(*word);
    } else {
      return Fail(FormatMessageTexts("Unsupported YAML tag '%1'.", {name}));
    }
    return {};
  }
  if (quoted) {
    out.SetString(view);
    return {};
  }
  if (IsOneOf(view, {"", "~", "null", "Null", "NULL"})) {
    out.Reset();
    return {};
  }
  if (const std::optional<double> number = PlainNumber(text, length)) {
    SetNumber(*number, out);
    return {};
  }
  if (const std::optional<bool> word = BoolWord(view)) {
    out.SetBool(*word);
  } else {
    out.SetString(view);
  }
  return {};
}

}  // namespace qmx::serialization_detail
