// The token reader's documents as Values, for tools and diagnostics.
#pragma once

#include "binding/value.h"
#include "entitlements/json_reader.h"

namespace qmx {

// Objects become Structures, arrays Collections, numbers Float, strings String,
// booleans Bool and null Empty. Structures order their members by name.
void JsonElementToValue(const json::Element& element, Value& out);
void JsonObjectToValue(const json::Object& object, Value& out);

}  // namespace qmx
