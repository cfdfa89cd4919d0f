#include <gtest/gtest.h>

#include <string>

#include "common/base64.h"
#include "entitlements/json_reader.h"
#include "entitlements/token_decoder.h"

namespace qmx {
namespace {

using json::Element;
using json::Object;

std::string Base64Url(std::string_view bytes, bool padded = false) {
  std::string text = Base64Encode(bytes);
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  if (!padded) text.erase(text.find_last_not_of('=') + 1);
  return text;
}

Object ErrorObject() {
  Object object;
  object.Add("error", Element(true));
  return object;
}

const char kClaims[] = R"({"sub":"u","iss":"i","entitlements":["e1","e2"]})";

TEST(Base64UrlDecodeTest, RestoresPaddingAndAlphabet) {
  struct Case {
    std::string segment;
    std::string bytes;
  };
  const Case cases[] = {
      {"", ""},
      {"YQ", "a"},           // n mod 4 = 2
      {"YWI", "ab"},         // n mod 4 = 3
      {"YWI=", "ab"},        // padding already present
      {"YWJj", "abc"},
      {"YWJjZ", "abc"},      // n mod 4 = 1: the last character is lost
      {"-_-_", "\xfb\xff\xbf"},
      {"+/+/", "\xfb\xff\xbf"},
      {"YW*Jj", "a"},        // a foreign character ends the data
  };
  for (const Case& c : cases) EXPECT_EQ(Base64UrlDecode(c.segment), c.bytes) << c.segment;
}

TEST(TokenDecoderTest, MissingOrUnreadableSegments) {
  struct Case {
    std::string token;
    bool headerOk;
    bool claimsOk;
    bool hasSignature;
  };
  std::string header = Base64Url(R"({"alg":"none"})");
  std::string claims = Base64Url(kClaims);
  const Case cases[] = {
      {"abc", false, false, false},
      {"", false, false, false},
      {".", false, false, false},
      {"..", false, false, false},
      {"...", false, false, false},
      {header, true, false, false},
      {header + "." + claims, true, true, false},
      {header + "." + claims + ".", true, true, false},
      {header + "." + claims + ".c2ln", true, true, true},
      {"." + claims + ".c2ln", false, true, true},
      {header + "..c2ln", true, false, true},
      {header + "." + claims + ".c2ln.extra.more", true, true, true},
      {"!!!." + claims, false, true, false},  // invalid base64 decodes to nothing
  };
  for (const Case& c : cases) {
    TokenDecoder decoder(c.token);
    decoder.Decode();
    EXPECT_EQ(decoder.header() == ErrorObject(), !c.headerOk) << c.token;
    EXPECT_EQ(decoder.claims() == ErrorObject(), !c.claimsOk) << c.token;
    if (c.hasSignature) {
      EXPECT_EQ(decoder.signature(), "sig") << c.token;
    } else {
      EXPECT_EQ(decoder.signature(), TokenDecoder::kNoSignature) << c.token;
    }
  }
}

TEST(TokenDecoderTest, ReadsClaimsPaddedOrNot) {
  for (bool padded : {false, true}) {
    TokenDecoder decoder("e30." + Base64Url(kClaims, padded) + ".c2ln");
    Object claims = decoder.GetClaims();
    EXPECT_EQ(claims["sub"].Text(), "u");
    EXPECT_EQ(claims["iss"].Text(), "i");
    ASSERT_TRUE(claims["entitlements"].IsArray());
    ASSERT_EQ(claims["entitlements"].Array().size(), 2u);
    EXPECT_EQ(claims["entitlements"].Array()[1].Text(), "e2");
    EXPECT_TRUE(decoder.header().empty());  // "e30" is {}
  }
}

// The example token of RFC 7519 section 3.1 (members separated by CR LF).
TEST(TokenDecoderTest, DecodesStandardExampleToken) {
  TokenDecoder decoder(
      "eyJ0eXAiOiJKV1QiLA0KICJhbGciOiJIUzI1NiJ9."
      "eyJpc3MiOiJqb2UiLA0KICJleHAiOjEzMDA4MTkzODAsDQogImh0dHA6Ly9leGFtcGxlLmNvbS9pc19yb290Ijp0cnVlfQ."
      "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
  Object claims = decoder.GetClaims();
  EXPECT_EQ(decoder.headerJson(), "{\"typ\":\"JWT\",\r\n \"alg\":\"HS256\"}");
  EXPECT_EQ(decoder.header().Find("alg")->Text(), "HS256");
  EXPECT_EQ(claims["iss"].Text(), "joe");
  EXPECT_EQ(claims["exp"].Number(), 1300819380.0);
  EXPECT_TRUE(claims["http://example.com/is_root"].Boolean());
  EXPECT_EQ(claims.size(), 3u);
  EXPECT_EQ(Base64Encode(decoder.signature()), "dBjftJeZ4CVP+mB92K27uhbUJU1p1r/wW1gFWFOEjXk=");
}

TEST(TokenDecoderTest, GetClaimsDecodesOnceAndReturnsCopies) {
  TokenDecoder decoder("e30." + Base64Url(kClaims));
  EXPECT_FALSE(decoder.decoded());
  Object first = decoder.GetClaims();
  EXPECT_TRUE(decoder.decoded());
  first["added"];  // lookup of an absent name adds a null member to the copy only
  EXPECT_TRUE(first["added"].IsNull());
  Object second = decoder.GetClaims();
  EXPECT_FALSE(second.Contains("added"));
  EXPECT_EQ(second.size(), 3u);
  EXPECT_EQ(first.size(), 4u);
}

TEST(TokenDecoderTest, UEscapeIsKeptVerbatim) {
  TokenDecoder decoder("e30." + Base64Url(R"({"sub":"\u0041"})"));
  std::string subject = decoder.GetClaims()["sub"].Text();
  EXPECT_EQ(subject, "\\u0041");
  EXPECT_EQ(subject.size(), 6u);
}

// Grammar errors must be contained like lexical ones: nothing may escape
// into the host.
TEST(TokenDecoderTest, GrammarErrorsGiveErrorObject) {
  const char* texts[] = {
      R"({"sub":"a","sub":"b"})",  // duplicate member
      "",
      "   ",
      "[1]",
      R"({"a":1,})",
      R"({"a":1} {)",
      R"({"a":1.2.3})",
      R"({"a":"unterminated)",
      R"({"a":tru})",
  };
  for (const char* text : texts) {
    TokenDecoder decoder(Base64Url(text) + "." + Base64Url(text));
    Object claims;
    ASSERT_NO_THROW(claims = decoder.GetClaims()) << text;
    EXPECT_EQ(claims, ErrorObject()) << text;
    EXPECT_EQ(decoder.header(), ErrorObject()) << text;
  }
}

// Deep, wide and huge tokens: each gives the error object, in linear time.
TEST(TokenDecoderTest, HostileTokensGiveTheErrorObject) {
  const size_t kSize = 1 << 20;
  std::string nested = Base64Url(std::string(kSize, '['));
  std::string deepObject;
  for (int i = 0; i < 100000; ++i) deepObject += R"({"a":)";
  std::string wideObject = "{";
  for (int i = 0; i < 100000; ++i) wideObject += "\"m" + std::to_string(i) + "\":0,";
  wideObject += "\"m0\":0}";  // a duplicate at the very end
  const std::string tokens[] = {
      std::string(kSize, '.'),
      std::string(kSize, 'A'),
      std::string(kSize, '\xff'),
      nested + "." + nested + "." + nested,
      Base64Url(deepObject) + "." + Base64Url(deepObject),
      "e30." + Base64Url(wideObject),
  };
  for (const std::string& token : tokens) {
    TokenDecoder decoder(token);
    EXPECT_EQ(decoder.GetClaims(), ErrorObject());
  }
}

}  // namespace
}  // namespace qmx
