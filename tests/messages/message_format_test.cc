#include "messages/message_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmx {
namespace {

struct Case {
  const char* name;
  const char* format;
  std::vector<FormatArg> args;
  std::string expected;
};

TEST(FormatMessageTest, NumberedAndUnnumberedPlaceholders) {
  const Case cases[] = {
      {"dotted version", "%1.%2.%3", {18u, 0u, 0u}, "18.0.0"},
      {"two texts", "%1 %2", {"POST", "https://x/y"}, "POST https://x/y"},
      {"reordered", "%2-%1", {"a", "b"}, "b-a"},
      {"numbered with width", "%1$5s", {"ab"}, "   ab"},
      {"numbered hex", "%1$x", {255}, "ff"},
      {"s on an integer uses its default", "%1$s", {-42}, "-42"},
      {"d on a text uses s", "%1$d", {"text"}, "text"},
      {"no arguments", "%1", {}, ""},
      {"percent escape", "100%% done", {}, "100% done"},
      {"beyond the arguments becomes a width", "a %3 b", {"x", "y"}, "a   xb"},
      {"unnumbered runs out", "%s %s %s", {"x", "y"}, "x y "},
      {"n prints nothing", "[%1$n]", {5}, "[]"},
      {"64-bit defaults", "%1 %2", {int64_t{-9000000000}, uint64_t{18000000000000000000u}},
       "-9000000000 18000000000000000000"},
      {"float default and precision", "%1 %1$.2f", {2.5}, "2.5 2.50"},
      {"float rejects d", "%1$d", {0.25}, "0.25"},
      {"length modifier of the template is ignored", "%1$hhd %2$lls", {300, "t"}, "300 t"},
      {"unsigned 32 with signed conversion", "%1$d", {4294967295u}, "-1"},
      {"char conversion", "%1$c%2$c", {'o', int64_t{'k'}}, "ok"},
      {"star width from the sequence", "%*s|", {4, "ab"}, "  ab|"},
      {"star without an argument ends", "x%*s", {}, "x"},
      {"trailing percent ends", "abc%", {1}, "abc"},
      {"null text prints empty", "<%1>", {static_cast<const char*>(nullptr)}, "<>"},
      {"huge width is clamped and cut", "%1$999999999999d", {1}, std::string(4095, ' ')},
      {"flags printf rejects are dropped", "%1$+#05s|%2$#d", {"ab", 7}, "   ab|7"},
      {"plain number followed by digits text", "%1 0", {"v"}, "v 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMessageArgs(c.format, c.args), c.expected) << c.name;
  }
}

TEST(FormatMessageTest, OverlongSpecificationEndsTheText) {
  std::string format = "ok %1$" + std::string(58, '0') + "5d tail";
  EXPECT_EQ(FormatMessage(format.c_str(), 7), "ok ");
  std::string fits = "%1$" + std::string(57, '0') + "2d";  // 59 characters after '$'
  EXPECT_EQ(FormatMessage(fits.c_str(), 7), "07");
}

TEST(FormatMessageTest, CutsAtTheBufferAndNeverOverruns) {
  std::string longTemplate(5000, 'a');
  EXPECT_EQ(FormatMessage(longTemplate.c_str()).size(), 4095u);

  std::string longText(5000, 'b');
  std::string result = FormatMessage("xy%1z", longText);
  EXPECT_EQ(result.size(), 4095u);
  EXPECT_EQ(result.substr(0, 3), "xyb");

  // A small buffer: the text is cut at size - 1 and the guard byte stays.
  char buffer[8];
  buffer[7] = '#';
  const FormatArg args[] = {"abcdef"};
  EXPECT_EQ(FormatInto(buffer, 7, "12%1", args), 6u);
  EXPECT_STREQ(buffer, "12abcd");
  EXPECT_EQ(buffer[7], '#');
}

}  // namespace
}  // namespace qmx
