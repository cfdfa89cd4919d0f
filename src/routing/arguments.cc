#include "routing/arguments.h"

#include <cerrno>
#include <cstdlib>
#include <unordered_map>

#include "common/split_string.h"
#include "messages/message_format.h"
#include "routing/http.h"
#include "routing/route.h"
#include "serialization/json.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"

namespace qmx {
namespace {

bool IsComposite(TypeCode code) {
  return code == TypeCode::Vector || code == TypeCode::Struct || code == TypeCode::Object;
}

std::string_view SkipSpaces(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

void ReadInto(ValueResult& result, Value& out, ValueResult read, const char* failure,
              std::string_view parameterName, std::string_view functionName) {
  if (!read.Ok()) {
    result.SetError(FormatMessageTexts(failure, {parameterName, functionName, read.ErrorText()}));
    return;
  }
  out.Swap(read.value());
}

void ReadMessagePack(ValueResult& result, Value& out, std::string_view text,
                     std::string_view parameterName, std::string_view functionName) {
  size_t consumed = 0;
  ReadInto(result, out,
           DecodeMessagePack(reinterpret_cast<const uint8_t*>(text.data()), text.size(), consumed),
           "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3", parameterName,
           functionName);
}

const ArgumentDescriptor* FindArgument(const FunctionDescriptor& function, std::string_view name,
                                       size_t& index) {
  for (index = 0; index < function.arguments.size(); ++index) {
    if (function.arguments[index].name == name) return &function.arguments[index];
  }
  return nullptr;
}

// The index of segment, or false after reporting why it is none.
bool ParseIndex(ValueResult& result, const std::string& segment, size_t& index) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(segment.c_str(), &end, 0);
  if (end == nullptr || *end != '\0') {
    result.SetError(FormatMessageTexts("Index %1 is in an incorrect format", {segment}));
    return false;
  }
  if (errno == ERANGE || number > kMaxArgumentIndex) {
    result.SetError(FormatMessageTexts("Index %1 is out of range", {segment}));
    return false;
  }
  index = static_cast<size_t>(number);
  return true;
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

void ArgumentFromText(ValueResult& result, Value& out, std::string_view text,
                      std::string_view contentType, bool composite, std::string_view parameterName,
                      std::string_view functionName) {
  if (!result.Ok()) return;
  const bool sniff = composite && contentType.empty();
  const std::string_view trimmed = SkipSpaces(text);
  const auto first = text.empty() ? 0u : static_cast<uint8_t>(text[0]);
  if (IsContentType(contentType, kContentTypeMsgpack) ||
      (sniff && ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF)))) {
    ReadMessagePack(result, out, text, parameterName, functionName);
  } else if (IsContentType(contentType, kContentTypeJson) ||
             (sniff && !trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '['))) {
    ReadInto(result, out, ReadJson(text),
             "Couldn't deserialize JSON value for parameter '%1' of '%2': %3", parameterName,
             functionName);
  } else if (IsContentType(contentType, kContentTypeTextYaml) ||
             (sniff && trimmed.starts_with("---"))) {
    ReadInto(result, out, ReadYaml(text),
             "Couldn't deserialize YAML value for parameter '%1' of '%2': %3", parameterName,
             functionName);
  } else if (IsContentType(contentType, kContentTypeOctetStream)) {
    out.SetBlob(text.data(), text.size());
  } else {
    out.SetString(text);
  }
}

void AssignKey(ValueResult& result, std::span<Value> values, const FunctionDescriptor& function,
               std::string_view key, std::string_view text, uint32_t location) {
  if (!result.Ok()) return;
  const size_t dot = key.find('.');
  const std::string_view base = key.substr(0, dot);
  size_t position = 0;
  const ArgumentDescriptor* argument = FindArgument(function, base, position);
  if (argument == nullptr || position >= values.size()) {
    result.SetError(FormatMessageTexts("Unknown argument '%1' for '%2'.", {base, function.name}));
    return;
  }
  if (argument->location != kLocationAnywhere && argument->location != location) {
    result.SetError(FormatMessageTexts(
        "Argument '%1' for '%2' was specified in an invalid location.", {base, function.name}));
    return;
  }
  Value& value = values[position];
  if (dot == std::string_view::npos) {
    if (!text.empty()) {
      ArgumentFromText(result, value, text, {}, IsComposite(argument->type.code), argument->name,
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
      size_t index = 0;
      if (!ParseIndex(result, segment, index)) return;
      if (current->Kind() != ValueKind::Collection) current->Reset();
      current = &current->Element(index);
    } else {
      if (current->Kind() != ValueKind::Structure) current->Reset();
      current = &current->Member(segment);
    }
  }
  ArgumentFromText(result, *current, text, {}, false, rest, function.name);
}

}  // namespace qmx
