#include "messages/message_format.h"
#include "plugin/named_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/api_version.h"

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

TEST(FormatMessageTest, ApiVersionTextUsesTheTemplate) {
  EXPECT_EQ((ApiVersion{4294967295u, 4294967295u, 4294967295u, {}, {}}.Text()),
            "4294967295.4294967295.4294967295");
  EXPECT_EQ((ApiVersion{18, 1, 2, "rc1", "b7"}.Text()), "18.1.2-rc1+b7");
}

std::vector<Value> Values(std::initializer_list<std::string_view> texts) {
  std::vector<Value> values(texts.size());
  size_t i = 0;
  for (std::string_view text : texts) values[i++].SetString(text);
  return values;
}

TEST(FormatNamedTest, RequestClientTemplate) {
  std::vector<Value> values = Values({"GET", "/x", "boom"});
  std::vector<Value> converted(values.size());
  Value fields;
  EXPECT_EQ(NumberNamedTemplate("Error response for {method} {url}: {error}", values, fields, converted),
            "Error response for %1 %2: %3");
  NamedMessage message = FormatNamed("Error response for {method} {url}: {error}", values);
  EXPECT_EQ(message.text, "Error response for GET /x: boom");
  ASSERT_EQ(message.fields.Kind(), ValueKind::Structure);
  EXPECT_EQ(message.fields.Size(), 3u);
  EXPECT_EQ(message.fields.FindMember("method").GetString(), "GET");
  EXPECT_EQ(message.fields.FindMember("url").GetString(), "/x");
  EXPECT_EQ(message.fields.FindMember("error").GetString(), "boom");
}

TEST(FormatNamedTest, NumberedTemplateForms) {
  std::vector<Value> values(4);
  values[0].SetSigned(0);
  values[1].SetBool(true);
  values[2].SetString("");
  values[3].SetFloat(1.5);
  struct NamedCase {
    const char* format;
    const char* numbered;
  };
  const NamedCase cases[] = {
      {"{{x}} }", "{x} }"},
      {"100%% {a}", "100%% %1"},
      {"{a:5d}|{b}", "%1$5d|%2"},
      {"%s and {b}", "%s and %2"},
      {"{a?none} {b?no}", "none %2"},
      {"x  {!a}y", "xy"},
      {"{a\\}b}", "%1"},
      {"{a} {b} {c} {d} {e}", "%1 %2 %3 %4 "},
      {"keep {a", "keep "},
      {"{a{b}", "%1"},
      {"{a@hex}", "%1$016llX"},
  };
  for (const NamedCase& c : cases) {
    std::vector<Value> converted(values.size());
    Value fields;
    EXPECT_EQ(NumberNamedTemplate(c.format, values, fields, converted), c.numbered) << c.format;
  }
}

TEST(FormatNamedTest, FieldsConversionsAndSuffixes) {
  std::vector<Value> values(5);
  values[0].SetUnsigned(255);
  values[1].SetBool(false);
  values[2].SetFloat(0.5);
  values[3].SetString("t");
  values[4].SetSigned(-1);
  NamedMessage message = FormatNamed("{#count} {flag@str} {#ratio} {#name_str} {#n@hex}", values);
  EXPECT_EQ(message.text, "255 false 0.5 t FFFFFFFFFFFFFFFF");
  EXPECT_EQ(message.fields.FindMember("count_int").GetUnsigned(), 255u);
  EXPECT_EQ(message.fields.FindMember("flag").GetString(), "false");
  EXPECT_EQ(message.fields.FindMember("ratio_float").GetFloat(), 0.5);
  EXPECT_TRUE(message.fields.HasMember("name_str"));
  EXPECT_FALSE(message.fields.HasMember("name_str_str"));
  // "@hex" made the value a text before the suffix was chosen.
  EXPECT_EQ(message.fields.FindMember("n_str").GetString(), "FFFFFFFFFFFFFFFF");

  // The alternative replaces a false value and records no field; a later
  // placeholder of the same name replaces the earlier field.
  std::vector<Value> more(3);
  more[0].SetBool(false);
  more[1].SetSigned(1);
  more[2].SetSigned(2);
  NamedMessage alt = FormatNamed("[{ok?-}] {v} {v}", more);
  EXPECT_EQ(alt.text, "[-] 1 2");
  EXPECT_FALSE(alt.fields.HasMember("ok"));
  EXPECT_EQ(alt.fields.FindMember("v").GetSigned(), 2);
}

}  // namespace
}  // namespace qmx
