// The document formats the runtime reads, in one table: request bodies pick
// theirs by content type, argument texts by their first bytes, the tools and
// the reference host by name. A format is one entry here plus its reader.
#pragma once

#include <span>
#include <string_view>

#include "binding/value.h"

namespace qmx {

// The content types the table knows.
inline constexpr std::string_view kContentTypeJson = "application/json";
inline constexpr std::string_view kContentTypeJsonApi = "application/vnd.api+json";
inline constexpr std::string_view kContentTypeYaml = "application/x-yaml";
inline constexpr std::string_view kContentTypeMsgpack = "application/x-msgpack";

// True when the first type.size() characters of text equal type, ignoring
// ASCII case. Parameters after the type ("; charset=utf-8") are thereby
// ignored, and so is the rest of a longer type: the test for
// kContentTypeMsgpack also accepts "application/x-msgpack-ext".
bool IsContentType(std::string_view text, std::string_view type);

struct BodyFormat {
  // The short name the tools take ("json", "msgpack", "yaml").
  std::string_view name;
  // The content types of a body in this format. A request's content type
  // matches when it begins with one of them, ignoring ASCII case, so
  // parameters ("; charset=utf-8") and longer types that share the prefix
  // ("application/x-msgpack-ext") match too.
  std::span<const std::string_view> contentTypes;
  // Reads one document from the whole text; what follows the document is the
  // reader's own business (MessagePack stops after one item and ignores the
  // rest).
  ValueResult (*read)(std::string_view text);
  // Reads a request body of exactly text.size() bytes, with the framing of
  // this format: text formats end at the first NUL, MessagePack must fill the
  // body.
  ValueResult (*readBody)(std::string_view body);
  // Whether an argument text (given without a content type to a composite
  // argument) looks like a document of this format.
  bool (*looksLike)(std::string_view text);
  // The message of a failed argument read: %1 the parameter name, %2 the
  // function name, %3 the reader's message.
  const char* argumentFailure;
};

// Every format, in the order of their names.
std::span<const BodyFormat> BodyFormats();

// The format whose name is name, or null.
const BodyFormat* FindBodyFormatByName(std::string_view name);

// The format of a body whose content type is contentType, or null when no
// format claims it (an empty content type included).
const BodyFormat* FindBodyFormatByContentType(std::string_view contentType);

// The format an argument text looks like, or null for plain text.
const BodyFormat* SniffBodyFormat(std::string_view text);

}  // namespace qmx
