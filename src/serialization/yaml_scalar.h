// Resolution of one YAML scalar to a Value, shared by the YAML reader.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "binding/value.h"
#include "common/result.h"

namespace qmx::serialization_detail {

// Resolves the scalars of one document. The locale's decimal point, which
// decides whether strtod reads a fraction, is looked up once per resolver, on
// the first plain decimal with a fraction.
class YamlScalarResolver {
 public:
  // Fills out from a scalar's text. tag is null for an untagged scalar;
  // quoted tells whether it was single- or double-quoted. text must be
  // followed by a NUL (libyaml's scalar texts are). Fails with the message
  // of a tagged scalar whose text does not fit its tag, or of an unknown tag.
  Result<void, std::string> Resolve(const char* tag, const char* text, size_t length, bool quoted,
                                    Value& out);

 private:
  // The number an untagged plain scalar reads as, if strtod reads it
  // completely (and it is not +inf).
  std::optional<double> PlainNumber(const char* text, size_t length);

  int decimalPointIsDot_ = -1;  // unknown until first needed
};

}  // namespace qmx::serialization_detail
