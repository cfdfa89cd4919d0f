// Binding request texts to a function's declared arguments: the query split,
// the argument-text rule (sniffing MessagePack, JSON and YAML) and the key
// rule with dotted paths and indexes ("filter.name", "ids.2").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/type_registry.h"
#include "binding/value.h"

namespace qmx {

// Where a text or value came from; also the ArgumentDescriptor location codes.
enum ArgumentLocation : uint32_t {
  kLocationAnywhere = 0,
  kLocationQuery = 1,
  kLocationPath = 2,
  kLocationHeader = 4,
  kLocationBody = 5,
};

// The largest index a key segment may address. Growing a Collection to an
// index makes every element up to it, so a request could otherwise ask for
// two billion of them; larger indexes are answered as out of range.
inline constexpr uint32_t kMaxArgumentIndex = 65535;

// The pairs of the text after the first "?" of target (none without "?"):
// split at every "&" with empty pieces kept, percent-decoded; a repeated name
// keeps its last value, in first-occurrence order.
std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view target);

// Converts an argument text into a value: a composite argument's text that
// looks like a MessagePack, JSON or YAML document is read as one, anything
// else becomes a String. Reader failures are reported with parameterName and
// functionName in result.
void ArgumentFromText(ValueResult& result, Value& out, std::string_view text, bool composite,
                      std::string_view parameterName, std::string_view functionName);

// Assigns one (key, text) candidate from location to the argument values
// (one per declared argument of function) by the key rule. Does nothing once
// result has failed.
void AssignKey(ValueResult& result, std::span<Value> values, const FunctionDescriptor& function,
               std::string_view key, std::string_view text, uint32_t location);

}  // namespace qmx
