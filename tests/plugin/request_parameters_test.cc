// The parameters of a JSON-API request: one structure of named members, and
// nothing sent when a caller hands over anything else.
#include <gtest/gtest.h>

#include "plugin/plugin.h"
#include "plugin_fixture.h"

namespace qmx {
namespace {

class RequestParametersTest : public test::PluginFixture {};

TEST_F(RequestParametersTest, ParametersThatAreNotAStructureAreRefusedUnsent) {
  struct Case {
    const char* name;
    void (*fill)(Value&);
    const char* kind;
  };
  const Case cases[] = {
      {"signed", [](Value& v) { v.SetSigned(5); }, "signed"},
      {"string", [](Value& v) { v.SetString("a=1"); }, "string"},
      {"collection", [](Value& v) { v.Append().SetSigned(1); }, "collection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value parameters;
    c.fill(parameters);
    const size_t before = host.jsonCalls.size();
    RequestResult<> result = plugin->JsonApi().Request(HostMethodPost, "/a/b", parameters);
    ASSERT_FALSE(result.Ok());
    EXPECT_EQ(result.error().code, 400);
    EXPECT_EQ(result.error().message,
              std::string("Request not sent: Error converting parameters for POST /a/b: the "
                          "parameters must be a structure, not a value of kind '") +
                  c.kind + "'");
    EXPECT_EQ(host.jsonCalls.size(), before);
  }
}

TEST_F(RequestParametersTest, EmptyParametersSendAnEmptyStructure) {
  RequestResult<> result = plugin->JsonApi().Request(HostMethodPost, "/a/b", Value());
  EXPECT_TRUE(result.Ok());
  ASSERT_EQ(host.jsonCalls.size(), 1u);
  ASSERT_EQ(host.jsonCalls.back().argumentCount, 1u);
  EXPECT_EQ(host.jsonCalls.back().argument.Kind(), ValueKind::Structure);
  EXPECT_EQ(host.jsonCalls.back().argument.Size(), 0u);
}

}  // namespace
}  // namespace qmx
