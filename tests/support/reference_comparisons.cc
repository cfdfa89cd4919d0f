// The reader-against-reference comparisons shared by the differential tests
// and the differential fuzz targets.
#include <string>

#include "serialization/json.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"
#include "support/reference_readers.h"

namespace qmx::reference {

std::string CompareReadJson(std::string_view text, Notes* notes) {
  ValueResult expected = ReadJson(text, kJsonRules, notes);
  ValueResult actual = qmx::ReadJson(text);
  return Difference(expected, actual, true);
}

std::string CompareDecodeMessagePack(const uint8_t* data, size_t size, Notes* notes) {
  if (!HaveMessagePack()) return "";
  size_t expectedConsumed = 0;
  size_t actualConsumed = 0;
  ValueResult expected = DecodeMessagePack(data, size, expectedConsumed, notes);
  ValueResult actual = qmx::DecodeMessagePack(data, size, actualConsumed);
  std::string difference = Difference(expected, actual, false);
  if (difference.empty() && expected.Ok() && expectedConsumed != actualConsumed) {
    difference = "consumed " + std::to_string(expectedConsumed) + " vs " + std::to_string(actualConsumed);
  }
  return difference;
}

std::string CompareReadYamlWithJson(std::string_view text, Notes* notes) {
  Notes seen;
  ValueResult expected = ReadJson(text, kYamlRules, &seen);
  if (notes != nullptr) *notes = seen;
  if (!expected.Ok() || seen.numberLeftOpen) return "";
  // ReadJson's text ends at its first NUL; ReadYaml reads the whole text.
  ValueResult actual = ReadYaml(text.substr(0, text.find('\0')));
  if (!actual.Ok() && actual.ErrorText().starts_with("YAML parser error: ")) return "";
  return Difference(expected, actual, false);
}

}  // namespace qmx::reference
