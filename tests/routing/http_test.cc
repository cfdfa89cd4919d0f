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

}  // namespace
}  // namespace qmx
