// Resolution of one YAML scalar to a Value, shared by the YAML reader.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"

namespace qmx::serialization_detail {

// Fills out from a scalar's text. tag is null for an untagged scalar; quoted
// tells whether it was single- or double-quoted. text must be followed by a
// NUL (libyaml's scalar texts are). Returns "" on success, else the message.
std::string ResolveYamlScalar(const char* tag, const char* text, size_t length, bool quoted,
                              Value& out);

}  // namespace qmx::serialization_detail
