// Splitting a text at a delimiter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qmx {

// Splits text at every occurrence of delimiter, keeping empty pieces: two
// delimiters in a row give an empty piece between them, a delimiter at the end
// gives an empty last piece, the empty text gives one empty piece. An empty
// delimiter never matches: the result is the whole text as one piece.
std::vector<std::string> SplitString(std::string_view text, std::string_view delimiter);

}  // namespace qmx
