#include "common/base64.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(Base64Test, EncodesWithPadding) {
  EXPECT_EQ(Base64Encode(std::string_view("")), "");
  EXPECT_EQ(Base64Encode(std::string_view("a")), "YQ==");
  EXPECT_EQ(Base64Encode(std::string_view("ab")), "YWI=");
  EXPECT_EQ(Base64Encode(std::string_view("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(std::string_view("\xff\xfe\xfd", 3)), "//79");
}

TEST(Base64Test, UrlFormSwapsTheTwoSymbolsAndDropsPadding) {
  EXPECT_EQ(Base64UrlEncode("\xfb\xff"), "-_8");
  EXPECT_EQ(Base64UrlEncode("{}"), "e30");
  EXPECT_EQ(Base64UrlEncode(""), "");
}

TEST(Base64Test, DecodeStopsAtPaddingOrForeignCharacter) {
  EXPECT_EQ(Base64Decode("YWJj"), "abc");
  EXPECT_EQ(Base64Decode("YWI="), "ab");
  EXPECT_EQ(Base64Decode("YWI"), "ab");
  EXPECT_EQ(Base64Decode("YQ"), "a");
  EXPECT_EQ(Base64Decode("Y"), "");          // a lone final character gives nothing
  EXPECT_EQ(Base64Decode("YWJjZ"), "abc");    // five characters: the fifth is dropped
  EXPECT_EQ(Base64Decode("YW*Jj"), "a");      // '*' ends the data
  EXPECT_EQ(Base64Decode("YQ==YWJj"), "a");   // '=' ends the data
}

TEST(Base64Test, RoundTripsEveryByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t n = 0; n <= bytes.size(); n += 37) {
    std::string prefix = bytes.substr(0, n);
    EXPECT_EQ(Base64Decode(Base64Encode(std::string_view(prefix))), prefix);
  }
}

}  // namespace
}  // namespace qmx
