// Argument binding through the dispatch entry: request texts, bodies, host
// arguments, and the failures that name the parameter and the function.
#include "routing/arguments.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding_fixture.h"
#include "binding/type_registry.h"
#include "binding/value.h"
#include "interface/host_value.h"
#include "routing/dispatch.h"
#include "routing/route.h"
#include "serialization/json.h"

namespace qmx {
namespace {

using test::Arg;
using test::BindingFixture;
using test::RecordingCallable;

struct BindingCase {
  const char* target;
  std::vector<std::pair<const char*, const char*>> headers;
  const char* contentType;
  std::string body;
  const char* member;    // the argument checked, as JSON, on success
  const char* expected;  // that JSON, or the exact error text
  bool fails;
};

TEST(BindingTest, RequestTextsBodiesAndTheirFailures) {
  const std::vector<BindingCase> cases = {
      {"/p?flag", {}, nullptr, "", "flag", "true", false},
      {"/p", {}, nullptr, "", "flag", "false", false},
      {"/p?a=1&&b=2", {}, nullptr, "", nullptr, "Unknown argument '' for 'Probe'.", true},
      {"/p?zz=1", {}, nullptr, "", nullptr, "Unknown argument 'zz' for 'Probe'.", true},
      {"/p?h=1",
       {},
       nullptr,
       "",
       nullptr,
       "Argument 'h' for 'Probe' was specified in an invalid location.",
       true},
      {"/p", {{"q", "x"}}, nullptr, "", "q", "", false},  // q is query-only: headers are not looked
                                                          // at
      {"/p", {{"h", "from header"}}, nullptr, "", "h", "\"from header\"", false},
      {"/p", {{"H", "upper"}}, nullptr, "", "h", "", false},  // header names arrive lower-cased
      {"/p?a=query", {{"a", "header"}}, nullptr, "", "a", "\"query\"", false},
      {"/p?a=%41+b&a=last", {}, nullptr, "", "a", "\"last\"", false},
      {"/p?a=%41+b", {}, nullptr, "", "a", "\"A b\"", false},
      {"/p?list.0x2=a", {}, nullptr, "", "list", "[null,null,\"a\"]", false},
      {"/p?list.010=a",
       {},
       nullptr,
       "",
       "list",
       "[null,null,null,null,null,null,null,null,\"a\"]",
       false},
      {"/p?list.08=a", {}, nullptr, "", nullptr, "Index 08 is in an incorrect format", true},
      {"/p?list.1x=a", {}, nullptr, "", nullptr, "Index 1x is in an incorrect format", true},
      {"/p?list.65536=a", {}, nullptr, "", nullptr, "Index 65536 is out of range", true},
      {"/p?list.2147483647=a", {}, nullptr, "", nullptr, "Index 2147483647 is out of range", true},
      {"/p?list.99999999999999999999999=a",
       {},
       nullptr,
       "",
       nullptr,
       "Index 99999999999999999999999 is out of range",
       true},
      {"/p?list.1.k=v", {}, nullptr, "", "list", "[null,{\"k\":\"v\"}]", false},
      {"/p?list", {}, nullptr, "", "list", "[]", false},
      {"/p?filter", {}, nullptr, "", "filter", "{}", false},
      {"/p?filter.name=x", {}, nullptr, "", "filter", "{\"name\":\"x\"}", false},
      {"/p?filter=%7B%22k%22:1%7D", {}, nullptr, "", "filter", "{\"k\":1}", false},
      {"/p?filter=%20%20[1]", {}, nullptr, "", "filter", "[1]", false},
      {"/p?filter=---%0Ak: v%0A", {}, nullptr, "", "filter", "{\"k\":\"v\"}", false},
      {"/p?a={\"k\":1}", {}, nullptr, "", "a", "\"{\\\"k\\\":1}\"", false},  // not composite
      {"/p?n=", {}, nullptr, "", nullptr, "Expected value for argument 'n'.", true},
      {"/p?n=7", {}, nullptr, "", "n", "\"7\"", false},
      {"/p",
       {},
       "application/json",
       std::string("{\"x\":1} \0{garbage", 17),
       "body",
       "{\"x\":1}",
       false},
      {"/p", {}, "application/vnd.api+json; charset=utf-8", "[true]", "body", "[true]", false},
      {"/p", {}, "application/x-yaml", "x: 1\n", "body", "{\"x\":1}", false},
      {"/p",
       {},
       "application/x-msgpack",
       std::string("\x81\xa1x\x01", 4),
       "body",
       "{\"x\":1}",
       false},
      {"/p",
       {},
       "application/x-msgpack",
       std::string("\x81\xa1x\x01\x00", 5),
       nullptr,
       "Extra MessgePack data found in body",
       true},
      {"/p", {}, "text/plain", "hello", nullptr, "Unsupported body content type", true},
      {"/p", {}, nullptr, "hello", nullptr, "Unsupported body content type", true},
  };
  for (const BindingCase& c : cases) {
    SCOPED_TRACE(c.target + std::string(" ") + (c.contentType ? c.contentType : ""));
    BindingFixture fixture;
    std::vector<HostHeader> headers;
    for (const auto& [name, value] : c.headers) headers.push_back(HostHeader{name, value});
    // The body sits in a buffer of exactly its length, so a read past it is
    // caught by the address sanitizer.
    std::vector<uint8_t> body(c.body.begin(), c.body.end());
    HostRequest request{};
    request.target = c.target;
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = c.contentType;
    request.body = body.empty() ? nullptr : body.data();
    request.bodyLength = static_cast<uint32_t>(body.size());
    CallContext context;
    BindAndCall(context, fixture.function, {}, request);
    if (c.fails) {
      EXPECT_EQ(context.result.ErrorText(), c.expected);
      continue;
    }
    ASSERT_TRUE(context.result.Ok()) << context.result.ErrorText();
    const Value& member = context.result.value().FindMember(c.member);
    EXPECT_EQ(member.IsEmpty() ? std::string() : WriteJson(member, nullptr, ""), c.expected);
  }
}

// A call's argument values are kept in place up to eight arguments and on
// the heap beyond: both bind alike, the body included.
TEST(BindingTest, FewAndManyArgumentsBindAlike) {
  for (size_t count : {1u, 2u, 8u, 9u, 12u}) {
    SCOPED_TRACE(count);
    FunctionDescriptor function;
    function.name = "Many";
    std::vector<std::string> names;
    for (size_t i = 0; i + 1 < count; ++i) names.push_back("a" + std::to_string(i));
    for (const std::string& name : names) function.arguments.push_back(Arg(name.c_str(), TypeCode::String));
    function.arguments.push_back(Arg("body", TypeCode::Object, kLocationBody));
    function.callable = std::make_shared<RecordingCallable>(&function);
    std::string target = "/p";
    if (count > 1) target += "?a0=first&a" + std::to_string(count - 2) + "=last";
    const std::string body = "{\"k\":[1,2]}";
    HostRequest request{};
    request.target = target.c_str();
    request.contentType = "application/json";
    request.body = reinterpret_cast<const uint8_t*>(body.data());
    request.bodyLength = static_cast<uint32_t>(body.size());
    CallContext context;
    BindAndCall(context, function, {}, request);
    ASSERT_TRUE(context.result.Ok()) << context.result.ErrorText();
    std::string expected = "{\"body\":{\"k\":[1,2]}}";
    if (count == 2) expected = "{\"a0\":\"last\",\"body\":{\"k\":[1,2]}}";
    if (count > 2) {
      expected = "{\"a0\":\"first\",\"a" + std::to_string(count - 2) + "\":\"last\",\"body\":{\"k\":[1,2]}}";
    }
    EXPECT_EQ(WriteJson(context.result.value(), nullptr, nullptr), expected);
  }
}

TEST(BindingTest, ReaderFailuresNameTheParameterAndFunction) {
  BindingFixture fixture;
  struct Case {
    const char* target;
    const char* prefix;  // of the error; null when the text stays a String
  };
  const std::vector<Case> cases = {
      {"/p?filter={bad", "Couldn't deserialize JSON value for parameter 'filter' of 'Probe': "},
      {"/p?filter=---%0A[", "Couldn't deserialize YAML value for parameter 'filter' of 'Probe': "},
      {"/p?filter=%81%C1",
       "Couldn't deserialize MessagePack value for parameter 'filter' of 'Probe': "},
      // The last segment of a dotted key is never sniffed.
      {"/p?filter.x=[1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    HostRequest request{};
    request.target = c.target;
    CallContext context;
    BindAndCall(context, fixture.function, {}, request);
    const std::string text(context.result.ErrorText());
    if (c.prefix == nullptr) {
      EXPECT_TRUE(context.result.Ok()) << text;
    } else {
      EXPECT_TRUE(text.starts_with(c.prefix)) << text;
    }
  }
}

TEST(BindingTest, HostArgumentsByNameAndPosition) {
  BindingFixture fixture;
  struct Case {
    const char* name;
    size_t pathParameters;
    const char* member;  // checked on success
    const char* error;   // or the exact error
  };
  const std::vector<Case> cases = {
      {"n", 0, "n", nullptr},
      {nullptr, 0, "flag", nullptr},  // position 0
      {nullptr, 2, "b", nullptr},     // positions follow the path parameters
      {"nope", 0, nullptr, "Unknown argument 'nope' for 'Probe'."},
      {nullptr, 9, nullptr, "Unknown argument '9' for 'Probe'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "positional");
    HostArgument argument{};
    argument.name = c.name;
    argument.value.kind = HostValueSigned;
    argument.value.payload.signedValue = 5;
    HostRequest request{};
    request.target = "/p";
    request.arguments = &argument;
    request.argumentCount = 1;
    ParameterMap path;
    // Path parameters that are declared arguments, to shift the positions.
    if (c.pathParameters >= 1) path["a"] = "x";
    if (c.pathParameters >= 2) path["flag"] = "";
    for (size_t i = 2; i < c.pathParameters; ++i) path["list." + std::to_string(i)] = "y";
    CallContext context;
    BindAndCall(context, fixture.function, path, request);
    if (c.error != nullptr) {
      EXPECT_EQ(context.result.ErrorText(), c.error);
    } else {
      ASSERT_TRUE(context.result.Ok()) << context.result.ErrorText();
      EXPECT_EQ(context.result.value().FindMember(c.member).GetSigned(), 5);
    }
  }
  // A record of an unknown kind fails with the conversion's message, not a crash.
  HostArgument broken{};
  broken.name = "n";
  broken.value.kind = 99;
  HostRequest request{};
  request.arguments = &broken;
  request.argumentCount = 1;
  CallContext context;
  BindAndCall(context, fixture.function, {}, request);
  EXPECT_FALSE(context.result.Ok()) << WriteJson(context.result.value(), nullptr, "");
}

}  // namespace
}  // namespace qmx
