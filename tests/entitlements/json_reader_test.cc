#include "entitlements/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace qmx {
namespace {

using json::Object;
using json::Reader;

TEST(JsonReaderTest, ErrorClassesAndTexts) {
  enum Class { kScan, kParse };
  struct Case {
    std::string text;
    Class errorClass;
    std::string message;
  };
  const Case cases[] = {
      {"{\"a\":@}", kScan, "Unexpected character in stream: @"},
      {"{\"a\":tru}", kScan, "Expected string: true"},
      {"{\"a\":nul}", kScan, "Expected string: null"},
      {"{\"a\":fals}", kScan, "Expected string: false"},
      {"{\"a\":\"x", kScan, "Expected string: \""},
      {"{\"a\":\"\\x\"}", kScan, "Unrecognized escape sequence found in string: \\x"},
      {"", kParse, "Unexpected End of token stream"},
      {"{\"a\":", kParse, "Unexpected End of token stream"},
      {"{\"a\"", kParse, "Unexpected end of token stream"},
      {"[]", kParse, "Unexpected token: ["},
      {"{\"a\":1,}", kParse, "Unexpected token: }"},
      {"{\"a\" 1}", kParse, "Unexpected token: 1"},
      {"{\"a\":1,\"a\":2}", kParse, "Duplicate object member token: a"},
      {"{\"a\":1.2.3}", kParse, "Unexpected character in NUMBER token: ."},
      {"{\"a\":-}", kParse, "Unexpected character in NUMBER token: -"},
      {"{\"a\":1e}", kParse, "Unexpected character in NUMBER token: e"},
      {"{} []", kParse, "Expected End of token stream; found ["},
  };
  for (const Case& c : cases) {
    try {
      Reader::Read(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Reader::ScanException& e) {
      EXPECT_EQ(c.errorClass, kScan) << c.text;
      EXPECT_EQ(std::string(e.what()), c.message) << c.text;
    } catch (const Reader::ParseException& e) {
      EXPECT_EQ(c.errorClass, kParse) << c.text;
      EXPECT_EQ(std::string(e.what()), c.message) << c.text;
    }
  }
}

TEST(JsonReaderTest, ReadsEveryKindInOrder) {
  Object object = Reader::Read(
      " \t\v\f\r\n{\"z\":null,\"n\":-1.5e2,\"p\":+2,\"t\":true,\"f\":false,"
      "\"s\":\"q\\\"\\/\\\\\\b\\f\\n\\r\\t\",\"a\":[1,[],{}],\"o\":{\"k\":\"v\"}}\n");
  const char* names[] = {"z", "n", "p", "t", "f", "s", "a", "o"};
  ASSERT_EQ(object.size(), std::size(names));
  for (size_t i = 0; i < object.size(); ++i) EXPECT_EQ(object.members()[i].name, names[i]);
  EXPECT_TRUE(object["z"].IsNull());
  EXPECT_EQ(object["n"].Number(), -150.0);
  EXPECT_EQ(object["p"].Number(), 2.0);
  EXPECT_TRUE(object["t"].Boolean());
  EXPECT_TRUE(object["f"].IsBoolean());
  EXPECT_FALSE(object["f"].Boolean());
  EXPECT_EQ(object["s"].Text(), "q\"/\\\b\f\n\r\t");
  EXPECT_EQ(object["n"].Text(), "");  // text of a non-string is empty
  ASSERT_EQ(object["a"].Array().size(), 3u);
  EXPECT_TRUE(object["a"].Array()[1].IsArray());
  EXPECT_TRUE(object["a"].Array()[2].IsObject());
  ASSERT_NE(object["o"].AsObject(), nullptr);
  EXPECT_EQ(object["o"].AsObject()->Find("k")->Text(), "v");
}

}  // namespace
}  // namespace qmx
