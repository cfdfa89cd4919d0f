// YAML text to Value (reading only).
//
// One document is read; a second non-empty document is refused. Plain and
// block scalars resolve to null ("", "~", "null", "Null", "NULL"), numbers
// (anything strtod reads completely, except +inf), booleans (true/yes/on/y
// and false/no/off/n in their exact spellings) or strings; quoted scalars are
// strings; the tags !!str, !!int, !!float and !!bool force a kind and every
// other tag is refused. Mapping keys must be string scalars. Aliases are copies
// of the anchored node. Containers nested deeper than kMaxNestingDepth, and
// aliases whose copies would grow the document beyond a fixed budget, are
// refused. The whole text, NULs included, is handed to libyaml with its
// length; libyaml refuses a NUL as a control character. The text is never
// read past its length.
// Failures carry one message with 1-based line and column (libyaml's own
// errors report its 0-based position); nothing throws for bad input.
#pragma once

#include <string_view>

#include "binding/value.h"

namespace qmx {

ValueResult ReadYaml(std::string_view text);

}  // namespace qmx
