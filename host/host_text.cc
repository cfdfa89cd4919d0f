#include "host_text.h"

#include <cstdlib>
#include <cstring>

namespace qmx::host {

char* CopyText(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

}  // namespace qmx::host
