#include "serialization/body_formats.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "serialization/json.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"

namespace qmx {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view SkipSpaces(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

// A text body: up to its first NUL, never beyond its length.
std::string_view UpToNul(std::string_view body) {
  const void* nul = std::memchr(body.data(), '\0', body.size());
  return nul != nullptr
             ? body.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - body.data()))
             : body;
}

ValueResult ReadJsonText(std::string_view text) { return ReadJson(text); }

// ReadJson ends the text at its first NUL itself.
ValueResult ReadJsonBody(std::string_view body) { return ReadJson(body); }

bool LooksLikeJson(std::string_view text) {
  const std::string_view trimmed = SkipSpaces(text);
  return !trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '[');
}

ValueResult ReadMessagePackText(std::string_view text) {
  size_t consumed = 0;
  return DecodeMessagePack(reinterpret_cast<const uint8_t*>(text.data()), text.size(), consumed);
}

ValueResult ReadMessagePackBody(std::string_view body) {
  size_t consumed = 0;
  ValueResult read =
      DecodeMessagePack(reinterpret_cast<const uint8_t*>(body.data()), body.size(), consumed);
  if (read.Ok() && consumed < body.size()) read.SetError("Extra MessgePack data found in body");
  return read;
}

// A map or array header in the first byte.
bool LooksLikeMessagePack(std::string_view text) {
  const auto first = text.empty() ? 0u : static_cast<uint8_t>(text[0]);
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

ValueResult ReadYamlBody(std::string_view body) { return ReadYaml(UpToNul(body)); }

bool LooksLikeYaml(std::string_view text) { return SkipSpaces(text).starts_with("---"); }

constexpr std::array<std::string_view, 2> kJsonTypes = {kContentTypeJson, kContentTypeJsonApi};
constexpr std::array<std::string_view, 1> kMessagePackTypes = {kContentTypeMsgpack};
constexpr std::array<std::string_view, 1> kYamlTypes = {kContentTypeYaml};

constexpr std::array<BodyFormat, 3> kBodyFormats = {{
    {"json", kJsonTypes, &ReadJsonText, &ReadJsonBody, &LooksLikeJson,
     "Couldn't deserialize JSON value for parameter '%1' of '%2': %3"},
    {"msgpack", kMessagePackTypes, &ReadMessagePackText, &ReadMessagePackBody,
     &LooksLikeMessagePack,
     "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3"},
    {"yaml", kYamlTypes, &ReadYaml, &ReadYamlBody, &LooksLikeYaml,
     "Couldn't deserialize YAML value for parameter '%1' of '%2': %3"},
}};

}  // namespace

bool IsContentType(std::string_view text, std::string_view type) {
  if (text.size() < type.size()) return false;
  // Content types mostly arrive in the case they are written in.
  if (std::memcmp(text.data(), type.data(), type.size()) == 0) return true;
  for (size_t i = 0; i < type.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(type[i])) return false;
  }
  return true;
}

std::span<const BodyFormat> BodyFormats() { return kBodyFormats; }

const BodyFormat* FindBodyFormatByName(std::string_view name) {
  for (const BodyFormat& format : kBodyFormats) {
    if (format.name == name) return &format;
  }
  return nullptr;
}

const BodyFormat* FindBodyFormatByContentType(std::string_view contentType) {
  for (const BodyFormat& format : kBodyFormats) {
    for (std::string_view type : format.contentTypes) {
      if (IsContentType(contentType, type)) return &format;
    }
  }
  return nullptr;
}

const BodyFormat* SniffBodyFormat(std::string_view text) {
  for (const BodyFormat& format : kBodyFormats) {
    if (format.looksLike(text)) return &format;
  }
  return nullptr;
}

}  // namespace qmx
