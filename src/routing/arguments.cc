#include "routing/arguments.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "common/result.h"
#include "common/split_string.h"
#include "messages/message_format.h"
#include "routing/route.h"
#include "serialization/body_formats.h"

namespace qmx {
namespace {

bool IsComposite(TypeCode code) {
  return code == TypeCode::Vector || code == TypeCode::Struct || code == TypeCode::Object;
}

// The position of the declared argument called name, if there is one.
std::optional<size_t> FindArgument(const FunctionDescriptor& function, std::string_view name) {
  for (size_t index = 0; index < function.arguments.size(); ++index) {
    if (function.arguments[index].name == name) return index;
  }
  return std::nullopt;
}

// The index a key segment addresses, or the message saying why it is none.
Result<size_t, std::string> ParseIndex(const std::string& segment) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(segment.c_str(), &end, 0);
  if (end == nullptr || *end != '\0') {
    return Fail(FormatMessageTexts("Index %1 is in an incorrect format", {segment}));
  }
  if (errno == ERANGE || number > kMaxArgumentIndex) {
    return Fail(FormatMessageTexts("Index %1 is out of range", {segment}));
  }
  return static_cast<size_t>(number);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view target) {
  std::vector<std::pair<std::string, std::string>> pairs;
  const size_t question = target.find('?');
  if (question == std::string_view::npos) return pairs;
  // Position of each name in pairs, so long queries stay linear.
  std::unordered_map<std::string, size_t> positions;
  for (const std::string& piece : SplitString(target.substr(question + 1), "&")) {
    const size_t equals = piece.find('=');
    std::string name = PercentDecode(std::string_view(piece).substr(0, equals));
    std::string value = equals == std::string::npos
                            ? std::string()
                            : PercentDecode(std::string_view(piece).substr(equals + 1));
    const auto [position, inserted] = positions.try_emplace(name, pairs.size());
    if (inserted) {
      pairs.emplace_back(std::move(name), std::move(value));
    } else {
      pairs[position->second].second = std::move(value);
    }
  }
  return pairs;
}

void ArgumentFromText(ValueResult& result, Value& out, std::string_view text, bool composite,
                      std::string_view parameterName, std::string_view functionName) {
  if (!result.Ok()) return;
  const BodyFormat* format = composite ? SniffBodyFormat(text) : nullptr;
  if (format == nullptr) {
    out.SetString(text);
    return;
  }
  ValueResult read = format->read(text);
  if (!read.Ok()) {
    result.SetError(
        FormatMessageTexts(format->argumentFailure, {parameterName, functionName, read.ErrorText()}));
    return;
  }
  out.Swap(read.value());
}

void AssignKey(ValueResult& result, std::span<Value> values, const FunctionDescriptor& function,
               std::string_view key, std::string_view text, uint32_t location) {
  if (!result.Ok()) return;
  const size_t dot = key.find('.');
  const std::string_view base = key.substr(0, dot);
  const std::optional<size_t> position = FindArgument(function, base);
  if (!position || *position >= values.size()) {
    result.SetError(FormatMessageTexts("Unknown argument '%1' for '%2'.", {base, function.name}));
    return;
  }
  const ArgumentDescriptor* argument = &function.arguments[*position];
  if (argument->location != kLocationAnywhere && argument->location != location) {
    result.SetError(FormatMessageTexts(
        "Argument '%1' for '%2' was specified in an invalid location.", {base, function.name}));
    return;
  }
  Value& value = values[*position];
  if (dot == std::string_view::npos) {
    if (!text.empty()) {
      ArgumentFromText(result, value, text, IsComposite(argument->type.code), argument->name,
                       function.name);
      return;
    }
    switch (argument->type.code) {
      case TypeCode::Bool:
        value.SetBool(true);
        break;
      case TypeCode::Object:
      case TypeCode::Struct:
        value.Reset();
        value.MakeStructure();
        break;
      case TypeCode::Vector:
        value.Reset();
        value.MakeCollection();
        break;
      default:
        result.SetError(FormatMessageTexts("Expected value for argument '%1'.", {argument->name}));
    }
    return;
  }
  const std::string_view rest = key.substr(dot + 1);
  Value* current = &value;
  unsigned depth = 0;
  for (const std::string& segment : SplitString(rest, ".")) {
    if (++depth > kMaxNestingDepth) {
      result.SetError(FormatMessageTexts("Index %1 is out of range", {segment}));
      return;
    }
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      const Result<size_t, std::string> index = ParseIndex(segment);
      if (!index) {
        result.SetError(index.error());
        return;
      }
      if (current->Kind() != ValueKind::Collection) current->Reset();
      current = &current->Element(index.value());
    } else {
      if (current->Kind() != ValueKind::Structure) current->Reset();
      current = &current->Member(segment);
    }
  }
  ArgumentFromText(result, *current, text, false, rest, function.name);
}

}  // namespace qmx
