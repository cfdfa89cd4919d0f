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

using test::BindingFixture;

TEST(DispatchTest, UnroutedRequestsAnswerInvalidFunction) {
  BindingFixture fixture;
  const std::vector<Route> table = {
      MakeRoute(fixture.function.name, "/p/{a}", HttpMethod::kGet, "", &fixture.function)};
  struct Case {
    uint32_t method;
    const char* target;
    uint32_t status;
    const char* error;
  };
  const std::vector<Case> cases = {
      {HostMethodGet, "/q/x", 404, "Invalid function"},
      {HostMethodPost, "/p/x", 404, "Invalid function"},
      {HostMethodGet, nullptr, 404, "Invalid function"},
      {HostMethodGet, "/p/x?b=1", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target ? c.target : "(null)");
    HostRequest request{};
    request.method = c.method;
    request.target = c.target;
    HostResponse response{};
    Dispatch(nullptr, table, &response, &request);
    const uint32_t status = response.status;
    const HostResponseReleaseFn release = response.release;
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(release, &ReleaseResponse);
    if (c.error != nullptr) {
      EXPECT_STREQ(response.error, c.error);
    } else {
      EXPECT_EQ(response.error, nullptr);
      const uint32_t kind = response.body.kind;
      EXPECT_EQ(kind, static_cast<uint32_t>(HostValueStructure));
    }
    response.release(&response);
  }
  HostResponse response{};
  Dispatch(nullptr, table, &response, nullptr);
  EXPECT_STREQ(response.error, "Invalid function");
  response.release(&response);
}

TEST(DispatchTest, HostileRequestsFailCleanly) {
  BindingFixture fixture;
  const std::vector<Route> table = {
      MakeRoute(fixture.function.name, "/p", HttpMethod::kNone, "", &fixture.function)};
  std::string deepKey = "/p?filter";
  for (int i = 0; i < 3000; ++i) deepKey += ".x";
  std::string manyNames = "/p?";
  for (int i = 0; i < 20000; ++i) manyNames += "n" + std::to_string(i) + "=1&";
  const std::vector<std::string> targets = {"/p?",          "/p?&&&",
                                            "/p?=",         "/p?.=",
                                            "/p?list..=",   "/p?list.0.=",
                                            "/p?a=%",       "/p?a=%zz%4",
                                            "/p?list.-1=a", "/p?filter.0=1&filter.x=2",
                                            "/p?list.0x=a", "/p?list.0xFFFFFFFFFFFFFFFFF=a",
                                            deepKey,        manyNames};
  const std::vector<std::string> bodies = {std::string(1, '\x00'),
                                           std::string("\xdd\xff\xff\xff\xff", 5),
                                           std::string("\xc7\xff", 2),
                                           "{\"a\":",
                                           "[[[[[[[[[[",
                                           "---\n- [",
                                           std::string(5000, '['),
                                           std::string("\xff\xfe", 2)};
  const std::vector<const char*> contentTypes = {"application/x-msgpack", "application/json",
                                                 "application/x-yaml", "text/plain", nullptr};
  const auto call = [&](const std::string& target, const char* contentType,
                        const std::string& text) {
    std::vector<uint8_t> body(text.begin(), text.end());
    HostRequest request{};
    request.target = target.c_str();
    request.contentType = contentType;
    request.body = body.data();
    request.bodyLength = static_cast<uint32_t>(body.size());
    request.headers = nullptr;
    request.headerCount = 7;  // no array: ignored
    request.arguments = nullptr;
    request.argumentCount = 3;  // no array: ignored
    HostResponse response{};
    Dispatch(nullptr, table, &response, &request);
    const HostResponseReleaseFn release = response.release;
    ASSERT_NE(release, nullptr);
    release(&response);
  };
  for (const std::string& target : targets) call(target, nullptr, "");
  for (const char* contentType : contentTypes) {
    for (const std::string& body : bodies) call("/p", contentType, body);
  }
}

}  // namespace
}  // namespace qmx
