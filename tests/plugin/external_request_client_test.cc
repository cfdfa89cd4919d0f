// Outside HTTP requests through the host.
#include <gtest/gtest.h>

#include <string>

#include "plugin_fixture.h"

namespace qmx::test {
namespace {

class ExternalRequestClientTest : public PluginFixture {};

TEST_F(ExternalRequestClientTest, ExternalRequestsAndAnswers) {
  host.onExternal = [](ExternalResponse* response, const ExternalRequest*) { response->result = 5; };
  ExternalRequestSpec spec;
  spec.method = HostMethodPost;
  spec.url = "https://service/x";
  spec.headers["User-Agent"] = "mine";
  spec.body = "{}";
  ExternalAnswer answer = plugin->External().SendRequest(spec);
  EXPECT_EQ(answer.resultCode, 1);
  EXPECT_FALSE(answer.Succeeded());
  EXPECT_EQ(answer.status, -1);
  EXPECT_EQ(answer.reserved, -1);
  ASSERT_EQ(host.externalCalls.size(), 1u);
  const auto& call = host.externalCalls[0];
  ASSERT_EQ(call.headers.size(), 1u);  // no second user-agent header
  EXPECT_EQ(call.headers[0].second, "mine");
  EXPECT_EQ(call.body, "{}");
  EXPECT_EQ(call.setting1, 0u);
  EXPECT_EQ(call.setting2, 1u);

  static const char kBody[] = "ok";
  int releases = 0;
  host.onExternal = [&](ExternalResponse* response, const ExternalRequest*) {
    response->status = 200;
    response->headerCount = 2;  // and a null array
    response->body = reinterpret_cast<const uint8_t*>(kBody);
    response->bodyLength = 2;
    response->release = [](ExternalResponse* r) { r->status = 999; };
    ++releases;
  };
  spec.headers.clear();
  answer = plugin->External().SendRequest(spec);
  EXPECT_EQ(answer.conversionFailed, 1);
  EXPECT_EQ(answer.message, "Error converting response for POST https://service/x: headers was null");
  EXPECT_EQ(answer.body, "ok");
  EXPECT_FALSE(answer.Succeeded());  // a 200 whose headers were lost
  EXPECT_EQ(host.externalCalls[1].headers[0].first, "user-agent");
  EXPECT_EQ(host.externalCalls[1].headers[0].second, "VaskClient/18.2.1 (probe)");

  // An external answer whose body length has no bytes behind it.
  host.onExternal = [](ExternalResponse* response, const ExternalRequest*) {
    response->status = 200;
    response->bodyLength = 10;
  };
  spec.method = HostMethodGet;
  spec.url = "https://x/";
  answer = plugin->External().SendRequest(spec);
  EXPECT_EQ(answer.conversionFailed, 1);
  EXPECT_EQ(answer.message, "Error converting response for GET https://x/: body was null");
  EXPECT_FALSE(answer.Succeeded());
}

TEST_F(ExternalRequestClientTest, SucceedsOnlyForA2xxAnswerTakenOverWhole) {
  static const char kBody[] = "{}";
  static HostHeader headers[] = {{"content-type", "application/json"}};
  const struct {
    int32_t result;
    uint32_t status;
    bool succeeded;
  } cases[] = {
      {0, 200, true}, {0, 204, true}, {0, 299, true}, {0, 199, false},
      {0, 300, false}, {0, 401, false}, {0, 500, false},
      {-1, 200, false},  // the host did not reach the service
      {2, 200, false},
  };
  for (const auto& c : cases) {
    host.onExternal = [&](ExternalResponse* response, const ExternalRequest*) {
      response->result = c.result;
      response->status = c.status;
      response->headers = headers;
      response->headerCount = 1;
      response->body = reinterpret_cast<const uint8_t*>(kBody);
      response->bodyLength = 2;
    };
    ExternalRequestSpec spec;
    spec.method = HostMethodPost;
    spec.url = "https://service/x";
    ExternalAnswer answer = plugin->External().SendRequest(spec);
    EXPECT_EQ(answer.Succeeded(), c.succeeded) << c.result << " " << c.status;
  }
}

// Each of the four conditions fails the answer on its own.
TEST(ExternalAnswerTest, SucceededNeedsAllFourConditions) {
  ExternalAnswer answer;
  answer.status = 200;
  answer.conversionFailed = 0;
  EXPECT_TRUE(answer.Succeeded());
  for (int32_t status : {199, 200, 299, 300}) {
    ExternalAnswer probe = answer;
    probe.status = status;
    EXPECT_EQ(probe.Succeeded(), status == 200 || status == 299) << status;
  }
  for (int32_t code : {-1, 1, 2}) {
    ExternalAnswer probe = answer;
    probe.resultCode = code;
    EXPECT_FALSE(probe.Succeeded()) << code;
  }
  ExternalAnswer withMessage = answer;
  withMessage.message = "Error converting response";
  EXPECT_FALSE(withMessage.Succeeded());
  for (int32_t flag : {-1, 1}) {
    ExternalAnswer probe = answer;
    probe.conversionFailed = flag;
    EXPECT_FALSE(probe.Succeeded()) << flag;
  }
}

}  // namespace
}  // namespace qmx::test
