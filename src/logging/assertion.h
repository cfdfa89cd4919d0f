// The assertion report: a multi-line text logged at ERROR in category DBG.
// It neither stops the process nor breaks into a debugger.
#pragma once

#include <string>

namespace qmx {

// Each part appears only when given (non-null, non-empty; line not 0):
//   Assertion failed!\n\nFile: <file>\nLine: <line>\n\nFunction: <function>\n\n
//   Expression: <expression>\n\nDescription: <description>
void ReportAssertion(const char* expression, const char* description, const char* file, int line,
                     const char* function) noexcept;

// The report text itself.
std::string AssertionText(const char* expression, const char* description, const char* file, int line,
                          const char* function);

}  // namespace qmx
