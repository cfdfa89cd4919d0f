#include <gtest/gtest.h>

#include "routing/http.h"

namespace qmx {
namespace {

TEST(HttpMethodTest, NamesAndHostCodes) {
  struct Case {
    int32_t code;
    HttpMethod method;
    const char* name;
  };
  const Case cases[] = {
      {-1, HttpMethod::kNone, ""},        {0, HttpMethod::kNone, ""},         {1, HttpMethod::kDelete, "DELETE"},
      {2, HttpMethod::kGet, "GET"},       {3, HttpMethod::kHead, "HEAD"},     {4, HttpMethod::kOptions, "OPTIONS"},
      {5, HttpMethod::kPatch, "PATCH"},   {6, HttpMethod::kPost, "POST"},     {7, HttpMethod::kPut, "PUT"},
      {8, HttpMethod::kCall, ""},         {9, HttpMethod::kNone, ""},         {INT32_MIN, HttpMethod::kNone, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HttpMethodFromHost(c.code), c.method) << c.code;
    EXPECT_EQ(HttpMethodName(HttpMethodFromHost(c.code)), c.name) << c.code;
  }
  EXPECT_EQ(HttpMethodName(static_cast<HttpMethod>(9)), "");
}

TEST(ContentTypeTest, CaseInsensitivePrefix) {
  struct Case {
    const char* text;
    std::string_view type;
    bool expected;
  };
  const Case cases[] = {
      {"Application/JSON; charset=utf-8", kContentTypeJson, true},
      {"application/json", kContentTypeJson, true},
      {"application/jso", kContentTypeJson, false},
      {"", kContentTypeJson, false},
      {"application/xjson", kContentTypeJson, false},
      {"application/x-msgpack-ext", kContentTypeMsgpack, true},
      {"application/x-msgpack", kContentTypeMsgpackExt, false},
      {"TEXT/X-YAML", kContentTypeTextYaml, true},
      {"application/vnd.api+json", kContentTypeJsonApi, true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsContentType(c.text, c.type), c.expected) << c.text << " / " << c.type;
}

}  // namespace
}  // namespace qmx
