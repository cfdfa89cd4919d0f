// Calls of the host's JSON API: requests, errors, streamed and typed answers, settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "interface/host_value.h"
#include "plugin_fixture.h"

namespace qmx::test {
namespace {

class JsonApiClientTest : public PluginFixture {};

struct Chunks {
  std::vector<uint32_t> sizes;
  size_t next = 0;
  uint32_t lie = 0;  // reported on top of the real size
};

// Delivers one JSON string in chunks of the given sizes: the first byte and the
// last are quotes.
bool ReadChunk(void* context, uint8_t* buffer, uint32_t* size, bool* more) {
  auto* chunks = static_cast<Chunks*>(context);
  uint32_t n = std::min(chunks->sizes[chunks->next++], *size);
  std::memset(buffer, 'x', n);
  if (chunks->next == 1) buffer[0] = '"';
  *more = chunks->next < chunks->sizes.size();
  if (!*more) buffer[n - 1] = '"';
  *size = n + chunks->lie;
  return true;
}

// Delivers the text behind context in chunks as large as the buffer.
bool ReadText(void* context, uint8_t* buffer, uint32_t* size, bool* more) {
  auto* text = static_cast<std::string*>(context);
  *size = static_cast<uint32_t>(std::min<size_t>(*size, text->size()));
  std::memcpy(buffer, text->data(), *size);
  text->erase(0, *size);
  *more = !text->empty();
  return true;
}

TEST_F(JsonApiClientTest, HostErrorsBecomeRequestErrors) {
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    response->error = "service down";
    response->status = 503;
  };
  Value parameters;
  parameters.Member("a").SetSigned(1);
  parameters.Member("b").SetString("two");
  RequestResult<> result = plugin->JsonApi().Request(HostMethodGet, "/a/b", parameters);
  ASSERT_FALSE(result.Ok());
  EXPECT_EQ(result.error().code, 503);
  EXPECT_EQ(result.error().message, "Error response for GET /a/b: service down");
  EXPECT_EQ(result.error().fields.FindMember("errorCode_int").GetSigned(), 503);
  ASSERT_EQ(host.jsonCalls.back().argumentCount, 1u);
  EXPECT_EQ(host.jsonCalls.back().arguments[0].name, nullptr);
  EXPECT_EQ(host.jsonCalls.back().argument.Size(), 2u);
}

TEST_F(JsonApiClientTest, StreamsYieldBetweenShortChunksOnly) {
  Chunks chunks;
  host.onJsonApi = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = &ReadChunk;
    response->streamContext = &chunks;
    response->totalLength = 0xFFFFFFFFFFull;  // a hint of a terabyte must not be reserved
  };
  chunks.sizes = {4096, 4096, 10};
  RequestResult<Value> big = plugin->JsonApi().RequestValue(HostMethodGet, "/s");
  ASSERT_TRUE(big.Ok()) << big.error().message;
  EXPECT_EQ(big.value().Size(), 8200u);
  EXPECT_TRUE(host.slotTrace.empty());

  chunks = Chunks{{100, 100, 100}, 0, 0};
  EXPECT_TRUE(plugin->JsonApi().RequestValue(HostMethodGet, "/s").Ok());
  EXPECT_EQ(host.slotTrace, (std::vector<std::string>{"begin:Wait: yield", "yield", "end",
                                                      "begin:Wait: yield", "yield", "end"}));

  // A reader that claims more than the buffer holds is clamped to the buffer.
  chunks = Chunks{{4096}, 0, 100000};
  RequestResult<Value> clamped = plugin->JsonApi().RequestValue(HostMethodGet, "/s");
  ASSERT_TRUE(clamped.Ok()) << clamped.error().message;
  EXPECT_EQ(clamped.value().Size(), 4094u);
}

TEST_F(JsonApiClientTest, SettingsPaths) {
  (void)plugin->JsonApi().GetInstallSetting("globals");
  (void)plugin->JsonApi().GetSystemSetting("");
  ASSERT_EQ(host.jsonCalls.size(), 2u);
  EXPECT_EQ(host.jsonCalls[0].target, "/data-store/v1/install-settings/globals");
  EXPECT_EQ(host.jsonCalls[1].target, "/data-store/v1/system-settings/");
  EXPECT_EQ(host.jsonCalls[0].argumentCount, 0u);
}

TEST_F(JsonApiClientTest, TelemetryPostsAtOnceAndTheFutureIsReady) {
  Value empty;
  empty.MakeStructure();
  std::future<RequestResult<>> sent = plugin->JsonApi().SendTelemetry("x", empty);
  EXPECT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(sent.get().Ok());
  ASSERT_FALSE(host.jsonCalls.empty());
  EXPECT_EQ(host.jsonCalls.back().target, "/telemetry/v1/events/x");
  EXPECT_EQ(host.jsonCalls.back().method, static_cast<uint32_t>(HostMethodPost));
  ASSERT_EQ(host.jsonCalls.back().argumentCount, 1u);
  EXPECT_EQ(host.jsonCalls.back().argument.Kind(), ValueKind::Structure);
  EXPECT_EQ(host.jsonCalls.back().argument.Size(), 0u);
}

TEST_F(JsonApiClientTest, TypedRequestsReadStreamsAsJsonAndReportConversions) {
  std::string body;
  int streamReleases = 0, releases = 0;
  host.onJsonApi = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = &ReadText;
    response->streamContext = &body;
    response->streamRelease = [](void* context) { static_cast<std::string*>(context)->append("!"); };
    response->release = [](HostResponse* r) { r->status = 1; };
    ++releases;
  };
  body = R"({"uri":"/x","eventType":"Update"})";
  RequestResult<PluginResourceEvent> event =
      plugin->JsonApi().RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  ASSERT_TRUE(event.Ok()) << event.error().message;
  EXPECT_EQ(event.value().eventType, PluginResourceEventType::Update);
  EXPECT_EQ(body, "!");  // the stream was released once, after reading

  body = "[1,";
  RequestResult<PluginResourceEvent> broken =
      plugin->JsonApi().RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  ASSERT_FALSE(broken.Ok());
  EXPECT_EQ(broken.error().code, 0);
  EXPECT_EQ(broken.error().message,
            "Error reading streamed response for GET /s: Error: Invalid value. at offset 3.");

  body = R"({"eventType":"Sideways"})";
  RequestResult<PluginResourceEvent> wrong =
      plugin->JsonApi().RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  ASSERT_FALSE(wrong.Ok());
  EXPECT_EQ(wrong.error().message,
            "Error converting response for GET /s: Sideways is not a valid PluginResourceEventType "
            "enumeration value for 'eventType'.");
  (void)streamReleases;
  EXPECT_EQ(releases, 3);
}

TEST_F(JsonApiClientTest, BrokenHostAnswersGiveErrorsAndAreReleasedOnce) {
  int releases = 0;
  static int streamReleases;
  streamReleases = 0;
  host.onJsonApi = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = [](void*, uint8_t*, uint32_t*, bool*) { return false; };
    response->streamRelease = [](void*) { ++streamReleases; };
    response->release = [](HostResponse*) {};
    ++releases;
  };
  RequestResult<Value> nothing = plugin->JsonApi().RequestValue(HostMethodGet, "/s");
  ASSERT_FALSE(nothing.Ok());
  EXPECT_EQ(nothing.error().message, "Error reading streamed response for GET /s: Stream read error");
  EXPECT_EQ(streamReleases, 1);

  // A body that claims bytes it does not have.
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    response->body.kind = HostValueBlob;
    response->body.payload.buffer.length = 1u << 30;
  };
  RequestResult<Value> blob = plugin->JsonApi().RequestValue(HostMethodGet, "/b");
  ASSERT_FALSE(blob.Ok());
  EXPECT_EQ(blob.error().code, 0);
}

}  // namespace
}  // namespace qmx::test
