#include "serialization/message_text.h"

namespace qmx::serialization_detail {

// TODO(format): stand-in for FormatMessage.
std::string FillMessage(std::string_view text, std::initializer_list<std::string_view> arguments) {
  std::string out;
  out.reserve(text.size() + 32);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
      size_t index = static_cast<size_t>(next - '1');
      if (next >= '1' && next <= '9' && index < arguments.size()) {
        out.append(arguments.begin()[index]);
        ++i;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace qmx::serialization_detail
