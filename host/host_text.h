// Texts the host hands to a plugin in its answers.
#pragma once

#include <string_view>

namespace qmx::host {

// A NUL-terminated copy of text, owned by the host and freed with free(); null
// when memory runs out.
char* CopyText(std::string_view text);

}  // namespace qmx::host
