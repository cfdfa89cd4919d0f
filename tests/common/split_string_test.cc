#include "common/split_string.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(SplitStringTest, KeepsEmptyPieces) {
  struct Case {
    const char* text;
    const char* delimiter;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a.b.c", ".", {"a", "b", "c"}},
      {"a..b", ".", {"a", "", "b"}},
      {"a.", ".", {"a", ""}},
      {".a", ".", {"", "a"}},
      {"abc", ".", {"abc"}},
      {"", ".", {""}},
      {"..", ".", {"", "", ""}},
      {"a::b::", "::", {"a", "b", ""}},
      {"abc", "", {"abc"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitString(c.text, c.delimiter), c.pieces) << c.text;
}

}  // namespace
}  // namespace qmx
