#include "plugin/named_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmx {
namespace {

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
