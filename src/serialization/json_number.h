// Decimal text to the nearest double, quickly, for the JSON and YAML readers.
//
// The readers need every number rounded to its nearest double (ties to even),
// which the JSON parser's full-precision conversion and strtod give slowly.
// This covers the common shapes exactly and declines the rest, which the
// caller then hands to the slow conversion: so the result is the same either
// way.
#pragma once

#include <optional>
#include <string_view>

namespace qmx::serialization_detail {

// text starts with a JSON number the parser has already accepted: an optional
// "-", digits, an optional fraction and an optional exponent. The number ends
// where the text does or at the first character that cannot continue it, so
// a reader may pass the rest of its input. Returns the nearest double when
// the number has at most 19 significant digits and a decimal exponent in
// [-27, 55] once the digits are read as an integer; nothing otherwise.
std::optional<double> FastDecimalToDouble(std::string_view text);

}  // namespace qmx::serialization_detail
