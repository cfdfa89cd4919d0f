// Resolution of one YAML scalar to a Value, shared by the YAML reader.
#pragma once

#include <string>
#include <string_view>

#include "binding/value.h"

namespace qmx::serialization_detail {

// Resolves the scalars of one document. The locale's decimal point, which
// decides whether strtod reads a fraction, is looked up once per resolver, on
// the first plain decimal with a fraction.
class YamlScalarResolver {
 public:
  // Fills out from a scalar's text. tag is null for an untagged scalar;
  // quoted tells whether it was single- or double-quoted. text must be
  // followed by a NUL (libyaml's scalar texts are). Returns "" on success,
  // else the message.
  std::string Resolve(const char* tag, const char* text, size_t length, bool quoted, Value& out);

 private:
  bool ResolveNumber(const char* text, size_t length, Value& out);

  int decimalPointIsDot_ = -1;  // unknown until first needed
};

}  // namespace qmx::serialization_detail
