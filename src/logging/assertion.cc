#include "logging/assertion.h"

#include "logging/categories.h"
#include "logging/logger.h"

namespace qmx {
namespace {

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

std::string AssertionText(const char* expression, const char* description, const char* file, int line,
                          const char* function) {
  std::string text = "Assertion failed!\n\n";
  if (Given(file)) text.append("File: ").append(file).append("\n");
  if (line != 0) text.append("Line: ").append(std::to_string(line)).append("\n\n");
  if (Given(function)) text.append("Function: ").append(function).append("\n\n");
  if (Given(expression)) text.append("Expression: ").append(expression);
  if (Given(description)) text.append("\n\nDescription: ").append(description);
  return text;
}

void ReportAssertion(const char* expression, const char* description, const char* file, int line,
                     const char* function) noexcept {
  try {
    std::string text = AssertionText(expression, description, file, line, function);
    Log(kLogError, kCategoryDbg, "%s", text.c_str());
  } catch (...) {
    // Out of memory while building the text: the report is lost, the caller goes on.
  }
}

}  // namespace qmx
