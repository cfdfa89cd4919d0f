// Fills the numbered placeholders %1, %2 and %3 of a message text.
//
// TODO(format): replace with FormatMessage once the shared message engine is
// in; this stand-in knows only plain numbered placeholders and "%%".
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace qmx::serialization_detail {

std::string FillMessage(std::string_view text, std::initializer_list<std::string_view> arguments);

}  // namespace qmx::serialization_detail
