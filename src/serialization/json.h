// JSON text to and from Value.
//
// Writing maps every ValueKind to JSON: Empty inside a container is null, a
// Blob is its standard Base64 text, an Enum its enumerator name when a registry
// knows it and its number otherwise. A Float that is NaN or infinite has no
// JSON form and is written as null. A top-level Empty value gives "".
//
// Reading accepts one strict JSON value (no comments, no trailing commas, no
// NaN literals). The text ends at its first NUL and is never read past its
// length. Integers keep their sign as the kind (Signed with a leading '-',
// Unsigned otherwise); fractions, exponents and integers beyond 64 bits become
// Float. A repeated key lands on one member: the later value replaces the
// earlier one (a later object merges into an earlier object, a later array
// appends to an earlier array). Containers nested deeper than kMaxNestingDepth
// stop the parse. Failures read "Error: <reason> at offset <n>." and leave
// nothing of the partial value behind. Nothing throws for bad input.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"

namespace qmx {

class TypeRegistry;

// lineBreak null or "" selects the compact layout; anything else the indented
// one (four spaces per level) with lineBreak between lines.
std::string WriteJson(const Value& value, const TypeRegistry* registry, const char* lineBreak);

// Reads one JSON document; the text ends at its first NUL, if it holds one.
ValueResult ReadJson(std::string_view text);
ValueResult ReadJson(const char* text);

}  // namespace qmx
