#include "logging/assertion.h"

#include <gtest/gtest.h>

#include <string>

namespace qmx {
namespace {

TEST(AssertionTest, ReportText) {
  const struct {
    const char* expression;
    const char* description;
    const char* file;
    int line;
    const char* function;
    const char* text;
  } cases[] = {
      {"x > 0", nullptr, nullptr, 0, nullptr, "Assertion failed!\n\nExpression: x > 0"},
      {"e", "d", "f.cc", -12, "F", "Assertion failed!\n\nFile: f.cc\nLine: -12\n\nFunction: F\n\nExpression: e\n\nDescription: d"},
      {"", "", "", 0, "", "Assertion failed!\n\n"},
      {nullptr, "only", nullptr, 7, nullptr, "Assertion failed!\n\nLine: 7\n\n\n\nDescription: only"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AssertionText(c.expression, c.description, c.file, c.line, c.function), c.text);
  }
}

}  // namespace
}  // namespace qmx
