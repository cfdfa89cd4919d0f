// The runtime's host bridge, driven through a real HostApi table.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "plugin/interface/counted_allocator.h"
#include "plugin/interface/host_value.h"
#include "plugin/plugin.h"
#include "support/test_host.h"

namespace qmx {
namespace {

class ProbePlugin : public Plugin {
 public:
  ProbePlugin() : Plugin("probe") {}
  bool OnStart() override { return startResult; }
  bool startResult = true;
};

class PluginClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = new ProbePlugin();
    plugin->SetHostVersion(ApiVersion{18, 2, 1, {}, {}});
    plugin->RegisterRuntimeTypes();
    ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));
  }
  void TearDown() override {
    if (plugin != nullptr) plugin->Callbacks()->Shutdown(plugin);
  }

  test::TestHost host;
  ProbePlugin* plugin = nullptr;
};

TEST_F(PluginClientTest, UserAgentAndCookieComeFromInitialize) {
  EXPECT_EQ(plugin->UserAgent(), "VaskClient/18.2.1 (probe)");
  EXPECT_EQ(plugin->HostCookie(), 0xC00C1Eu);
}

TEST_F(PluginClientTest, SubscriptionsShareOneHostSubscriptionPerEventName) {
  size_t before = host.subscriptions.size();
  plugin->Subscribe(std::string("/a/b/c/x"));
  plugin->Subscribe(std::string("/a/b/c/y"));
  plugin->Subscribe(std::string("/a/b/d"));
  ASSERT_EQ(host.subscriptions.size(), before + 2);
  EXPECT_EQ(host.subscriptions[before].name, "OnJsonApiEvent_a_b_c");
  EXPECT_EQ(host.subscriptions[before].flag, 0);
  EXPECT_EQ(host.subscriptions[before].cookie, 0xC00C1Eu);
  plugin->Unsubscribe(std::string("/a/b/c/x"));
  EXPECT_TRUE(host.unsubscriptions.empty());
  plugin->Unsubscribe(std::string("/a/b/c/y"));
  ASSERT_EQ(host.unsubscriptions.size(), 1u);
  EXPECT_EQ(host.unsubscriptions[0].first, "OnJsonApiEvent_a_b_c");
}

TEST_F(PluginClientTest, ShutdownUnsubscribesEveryNameOnce) {
  plugin->Subscribe(std::string("/x/y"));
  plugin->Subscribe(std::string("/x/y"));
  plugin->Subscribe(std::string("/z"));
  plugin->Callbacks()->Shutdown(plugin);
  plugin = nullptr;
  std::map<std::string, int> counts;
  for (const auto& [name, cookie] : host.unsubscriptions) {
    ++counts[name];
    EXPECT_EQ(cookie, 0xC00C1Eu);
  }
  EXPECT_EQ(counts["OnJsonApiEvent_x_y"], 1);
  EXPECT_EQ(counts["OnJsonApiEvent_z"], 1);
}

TEST_F(PluginClientTest, TypedSubscribeDeliversInitialStateAndEvents) {
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    Value state;
    state.SetString("current");
    FromValue(state, response->body);
    response->release = [](HostResponse* r) { Release(r->body); };
  };
  std::vector<std::pair<int, std::string>> seen;
  plugin->Subscribe<std::string>("/res/item", [&](const TypedResourceEvent<std::string>& event) {
    seen.emplace_back(static_cast<int>(event.eventType), event.data);
  });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(0, std::string("current")));
  ASSERT_EQ(host.jsonCalls.size(), 1u);
  EXPECT_EQ(host.jsonCalls[0].method, static_cast<uint32_t>(HostMethodGet));
  EXPECT_EQ(host.jsonCalls[0].argumentCount, 0u);
  EXPECT_EQ(host.jsonCalls[0].requestId, 0xC00C1Eu);

  // A uri without the leading "/" still finds the handler; Delete needs no data.
  Value event;
  event.Member("uri").SetString("res/item");
  event.Member("eventType").SetString("Delete");
  host.Deliver("OnJsonApiEvent_res_item", event);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], std::make_pair(2, std::string()));
  // A payload of the wrong shape is dropped.
  Value wrong;
  wrong.SetSigned(5);
  host.Deliver("OnJsonApiEvent_res_item", wrong);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(PluginClientTest, HostErrorsBecomeRequestErrors) {
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    response->error = "service down";
    response->status = 503;
  };
  Value parameters;
  parameters.Member("a").SetSigned(1);
  parameters.Member("b").SetString("two");
  RequestResult result = plugin->Request(HostMethodGet, "/a/b", parameters);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->code, 503);
  EXPECT_EQ(result->message, "Error response for GET /a/b: service down");
  EXPECT_EQ(result->fields.FindMember("errorCode_int").GetSigned(), 503);
  ASSERT_EQ(host.jsonCalls.back().argumentCount, 1u);
  EXPECT_EQ(host.jsonCalls.back().arguments[0].name, nullptr);
  EXPECT_EQ(host.jsonCalls.back().argument.Size(), 2u);
}

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

TEST_F(PluginClientTest, StreamsYieldBetweenShortChunksOnly) {
  Chunks chunks;
  host.onJsonApi = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = &ReadChunk;
    response->streamContext = &chunks;
    response->totalLength = 0xFFFFFFFFFFull;  // a hint of a terabyte must not be reserved
  };
  chunks.sizes = {4096, 4096, 10};
  auto [big, failure] = plugin->RequestValue(HostMethodGet, "/s");
  EXPECT_FALSE(failure);
  EXPECT_EQ(big.Size(), 8200u);
  EXPECT_TRUE(host.slotTrace.empty());

  chunks = Chunks{{100, 100, 100}, 0, 0};
  plugin->RequestValue(HostMethodGet, "/s");
  EXPECT_EQ(host.slotTrace, (std::vector<std::string>{"begin:Wait: yield", "yield", "end",
                                                      "begin:Wait: yield", "yield", "end"}));

  // A reader that claims more than the buffer holds is clamped to the buffer.
  chunks = Chunks{{4096}, 0, 100000};
  auto [clamped, clampedFailure] = plugin->RequestValue(HostMethodGet, "/s");
  EXPECT_FALSE(clampedFailure);
  EXPECT_EQ(clamped.Size(), 4094u);
}

TEST_F(PluginClientTest, ExternalRequestsAndAnswers) {
  host.onExternal = [](ExternalResponse* response, const ExternalRequest*) { response->result = 5; };
  ExternalRequestSpec spec;
  spec.method = HostMethodPost;
  spec.url = "https://service/x";
  spec.headers["User-Agent"] = "mine";
  spec.body = "{}";
  ExternalAnswer answer = plugin->SendRequest(spec);
  EXPECT_EQ(answer.resultCode, 1);
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
  answer = plugin->SendRequest(spec);
  EXPECT_EQ(answer.conversionFailed, 1);
  EXPECT_EQ(answer.message, "Error converting response for POST https://service/x: headers was null");
  EXPECT_EQ(answer.body, "ok");
  EXPECT_EQ(host.externalCalls[1].headers[0].first, "user-agent");
  EXPECT_EQ(host.externalCalls[1].headers[0].second, "VaskClient/18.2.1 (probe)");
}

TEST_F(PluginClientTest, TimerGenerationsRetireOldSchedules) {
  int f = 0, g = 0;
  plugin->AddTimer("t", 0.2, [&] { ++f; });
  plugin->AddTimer("t", 0.2, [&] { ++g; });
  ASSERT_EQ(host.scheduled.size(), 2u);
  EXPECT_EQ(host.scheduled[0].label, "Timer: t");
  host.RunNextScheduled();  // the superseded schedule does nothing
  EXPECT_EQ(f + g, 0);
  EXPECT_TRUE(host.scheduled.size() == 1);
  host.RunNextScheduled();
  EXPECT_EQ(g, 1);
  ASSERT_EQ(host.scheduled.size(), 1u);  // re-armed
  host.RunNextScheduled();
  EXPECT_EQ(g, 2);
  EXPECT_EQ(f, 0);

  // Removing the timer inside its own callback makes no further schedule.
  plugin->AddTimer("self", 0, [&] { plugin->RemoveTimer("self"); });
  host.scheduled.clear();
  plugin->AddTimer("self", 0, [&] { plugin->RemoveTimer("self"); });
  EXPECT_EQ(host.scheduled.back().delay, 0.0);
  host.RunNextScheduled();
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_FALSE(plugin->HasTimer("self"));
}

TEST_F(PluginClientTest, PublishingFiresSpecificThenGeneralName) {
  plugin->PublishResourceDeleted("/entitlements/v1/token");
  ASSERT_EQ(host.fired.size(), 2u);
  EXPECT_EQ(host.fired[0].name, "OnJsonApiEvent_entitlements_v1_token");
  EXPECT_EQ(host.fired[1].name, "OnJsonApiEvent");
  EXPECT_EQ(host.fired[0].payload.FindMember("uri").GetString(), "/entitlements/v1/token");
  EXPECT_EQ(host.fired[1].payload.FindMember("eventType").GetString(), "Delete");
}

TEST_F(PluginClientTest, SettingsPaths) {
  plugin->GetInstallSetting("globals");
  plugin->GetSystemSetting("");
  ASSERT_EQ(host.jsonCalls.size(), 2u);
  EXPECT_EQ(host.jsonCalls[0].target, "/data-store/v1/install-settings/globals");
  EXPECT_EQ(host.jsonCalls[1].target, "/data-store/v1/system-settings/");
  EXPECT_EQ(host.jsonCalls[0].argumentCount, 0u);
}

TEST(PluginLifetimeTest, DestroyingThePluginReturnsItsMemory) {
  test::TestHost host;
  unsigned long long before = BytesInUse();
  auto* plugin = new ProbePlugin();
  plugin->RegisterRuntimeTypes();
  plugin->Callbacks()->Initialize(plugin, host.Handle());
  plugin->Subscribe(std::string("/a"));
  EXPECT_GT(BytesInUse(), before);
  plugin->Callbacks()->Shutdown(plugin);
  EXPECT_EQ(BytesInUse(), before);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

Value ProxyResponse(const char* uuid, const char* service, const char* method, const char* payload) {
  Value response;
  response.Member("uuid").SetString(uuid);
  response.Member("serviceName").SetString(service);
  response.Member("methodName").SetString(method);
  response.Member("payload").SetString(payload);
  return response;
}

bool HostLogged(const test::TestHost& host, const std::string& text) {
  for (const auto& line : host.logLines) {
    if (line.second.find(text) != std::string::npos) return true;
  }
  return false;
}

// Without pending requests every uuid- or method-keyed response is kept, one
// per key; an async message without a handler is dropped with an error line.
TEST_F(PluginClientTest, ServiceProxyResponsesAreKeptOnePerKey) {
  std::vector<std::string> proxy;
  for (const auto& s : host.subscriptions) {
    if (s.flag == 1) proxy.push_back(s.name);
  }
  EXPECT_EQ(proxy, (std::vector<std::string>{"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                             "OnServiceProxyAsyncEvent"}));

  host.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u1", "a", "b", "first"));
  host.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u1", "c", "d", "second"));
  std::optional<PluginServiceProxyResponse> kept = plugin->ReceivedServiceProxyResponse("u1");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->payload, "second");
  EXPECT_EQ(kept->serviceName, "c");
  EXPECT_EQ(plugin->ReceivedServiceProxyResponseCount(), 1u);

  host.Deliver("OnServiceProxyMethodEvent", ProxyResponse("u2", "a", "b", "by method"));
  kept = plugin->ReceivedServiceProxyResponse("a.b");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->payload, "by method");
  EXPECT_EQ(kept->uuid, "u2");
  EXPECT_FALSE(plugin->ReceivedServiceProxyResponse("u2").has_value());
  EXPECT_EQ(plugin->ReceivedServiceProxyResponseCount(), 2u);

  host.Deliver("OnServiceProxyAsyncEvent", ProxyResponse("u3", "x", "y", "async"));
  EXPECT_EQ(plugin->ReceivedServiceProxyResponseCount(), 2u);
  EXPECT_FALSE(plugin->ReceivedServiceProxyResponse("x.y").has_value());
  EXPECT_TRUE(HostLogged(host, "|  ERROR| DBG| probe: Could not find registered handler for async service proxy event x.y"));
}

TEST_F(PluginClientTest, TelemetryPostsAtOnceAndTheFutureIsReady) {
  Value empty;
  empty.MakeStructure();
  std::future<RequestResult> sent = plugin->SendTelemetry("x", empty);
  EXPECT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_FALSE(sent.get().has_value());
  ASSERT_FALSE(host.jsonCalls.empty());
  EXPECT_EQ(host.jsonCalls.back().target, "/telemetry/v1/events/x");
  EXPECT_EQ(host.jsonCalls.back().method, static_cast<uint32_t>(HostMethodPost));
  ASSERT_EQ(host.jsonCalls.back().argumentCount, 1u);
  EXPECT_EQ(host.jsonCalls.back().argument.Kind(), ValueKind::Structure);
  EXPECT_EQ(host.jsonCalls.back().argument.Size(), 0u);
}

TEST_F(PluginClientTest, ZeroSecondTimerKeepsReschedulingWithDelayZero) {
  ASSERT_TRUE(host.scheduled.empty());
  int runs = 0;
  plugin->AddTimer("zero", 0, [&] { ++runs; });
  for (int i = 1; i <= 4; ++i) {
    ASSERT_EQ(host.scheduled.size(), 1u);
    EXPECT_EQ(host.scheduled[0].label, "Timer: zero");
    EXPECT_EQ(host.scheduled[0].delay, 0.0);
    ASSERT_TRUE(host.RunNextScheduled());
    EXPECT_EQ(runs, i);
  }
  plugin->RemoveTimer("zero");
  host.RunNextScheduled();  // the last schedule finds no timer
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_EQ(runs, 4);
}

// Every schedule, whether a first arm, a re-arm or a superseding AddTimer,
// takes a fresh id: the first is 1 and each new one is above all before it.
TEST_F(PluginClientTest, ScheduledCallIdsStartAtOneAndNeverRepeat) {
  ASSERT_TRUE(plugin->OutstandingScheduledCallIds().empty());
  std::set<uint64_t> seen;
  uint64_t highest = 0;
  auto check = [&] {
    for (uint64_t id : plugin->OutstandingScheduledCallIds()) {
      if (seen.insert(id).second) {
        EXPECT_GT(id, highest);
        highest = id;
      }
    }
  };
  plugin->AddTimer("a", 0.5, [] {});
  EXPECT_EQ(plugin->OutstandingScheduledCallIds(), std::vector<uint64_t>{1});
  check();
  plugin->AddTimer("b", 0.5, [] {});
  check();
  host.RunNextScheduled();  // a fires and re-arms
  EXPECT_EQ(plugin->OutstandingScheduledCallIds(), (std::vector<uint64_t>{2, 3}));
  check();
  for (int i = 0; i < 20; ++i) {
    if (i % 5 == 0) plugin->AddTimer("a", 0.5, [] {});  // supersedes a's live schedule
    ASSERT_TRUE(host.RunNextScheduled());
    check();
  }
  EXPECT_GE(highest, 23u);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

TEST_F(PluginClientTest, LogLinesGoToTheHostOnceInitialized) {
  plugin->AddTimer("gone", 0.2, [] {});
  plugin->RemoveTimer("gone");
  host.RunNextScheduled();
  ASSERT_FALSE(host.logLines.empty());
  EXPECT_EQ(host.logLines.back().first, 1);
  EXPECT_NE(host.logLines.back().second.find("|   WARN| DBG;NET| probe: Couldn't find timer named gone"),
            std::string::npos)
      << host.logLines.back().second;

  // A second plugin in the same process finds the target and leaves logging alone.
  test::TestHost other;
  auto* second = new ProbePlugin();
  second->RegisterRuntimeTypes();
  second->Callbacks()->Initialize(second, other.Handle());
  second->AddTimer("gone", 0, [] {});
  second->RemoveTimer("gone");
  other.RunNextScheduled();
  EXPECT_TRUE(other.logLines.empty());
  second->Callbacks()->Shutdown(second);
}

TEST_F(PluginClientTest, OnStartDecidesInitialize) {
  test::TestHost other;
  auto* failing = new ProbePlugin();
  failing->startResult = false;
  failing->RegisterRuntimeTypes();
  EXPECT_FALSE(failing->Callbacks()->Initialize(failing, other.Handle()));
  failing->Callbacks()->Shutdown(failing);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

bool ReadText(void* context, uint8_t* buffer, uint32_t* size, bool* more) {
  auto* text = static_cast<std::string*>(context);
  *size = static_cast<uint32_t>(std::min<size_t>(*size, text->size()));
  std::memcpy(buffer, text->data(), *size);
  text->erase(0, *size);
  *more = !text->empty();
  return true;
}

TEST_F(PluginClientTest, TypedRequestsReadStreamsAsJsonAndReportConversions) {
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
  auto [event, ok] = plugin->RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  EXPECT_FALSE(ok) << ok->message;
  EXPECT_EQ(event.eventType, PluginResourceEventType::Update);
  EXPECT_EQ(body, "!");  // the stream was released once, after reading

  body = "[1,";
  auto [broken, parseFailure] = plugin->RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  ASSERT_TRUE(parseFailure);
  EXPECT_EQ(parseFailure->code, 0);
  EXPECT_EQ(parseFailure->message,
            "Error reading streamed response for GET /s: Error: Invalid value. at offset 3.");

  body = R"({"eventType":"Sideways"})";
  auto [wrong, conversionFailure] = plugin->RequestTyped<PluginResourceEvent>(HostMethodGet, "/s");
  ASSERT_TRUE(conversionFailure);
  EXPECT_EQ(conversionFailure->message,
            "Error converting response for GET /s: Sideways is not a valid PluginResourceEventType "
            "enumeration value for 'eventType'.");
  (void)streamReleases;
  EXPECT_EQ(releases, 3);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

TEST(PluginNameTest, KindsGivePrefixes) {
  EXPECT_EQ(GetFullNameFromShortNameAndType("entitlements", {"backend", ""}).fullName, "qmx-be-entitlements");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", {"frontend", "d"}).fullName, "qmx-fe-x");
  PluginName odd = GetFullNameFromShortNameAndType("x", {"Backend", ""});
  EXPECT_EQ(odd.fullName, "qmx-xx-x");
  EXPECT_EQ(odd.kind, "Backend");
}

TEST(PluginNameTest, LoadSequenceNamesTheEntitlementsPlugin) {
  auto* plugin = new ProbePlugin();
  plugin->SetUpNaming();
  EXPECT_EQ(plugin->Name().fullName, "qmx-be-probe");
  EXPECT_EQ(plugin->TypePrefix(), "Probe");
  EXPECT_EQ(plugin->Tags(), (std::vector<std::string>{"Plugins", "Plugin probe"}));
  plugin->Callbacks()->Shutdown(plugin);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

TEST_F(PluginClientTest, BrokenHostAnswersGiveErrorsAndAreReleasedOnce) {
  int releases = 0;
  static int streamReleases;
  streamReleases = 0;
  host.onJsonApi = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = [](void*, uint8_t*, uint32_t*, bool*) { return false; };
    response->streamRelease = [](void*) { ++streamReleases; };
    response->release = [](HostResponse*) {};
    ++releases;
  };
  auto [nothing, failure] = plugin->RequestValue(HostMethodGet, "/s");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->message, "Error reading streamed response for GET /s: Stream read error");
  EXPECT_EQ(streamReleases, 1);

  // A body that claims bytes it does not have.
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    response->body.kind = HostValueBlob;
    response->body.payload.buffer.length = 1u << 30;
  };
  auto [blob, blobFailure] = plugin->RequestValue(HostMethodGet, "/b");
  ASSERT_TRUE(blobFailure);
  EXPECT_EQ(blobFailure->code, 0);

  // An external answer whose body length has no bytes behind it.
  host.onExternal = [](ExternalResponse* response, const ExternalRequest*) {
    response->status = 200;
    response->bodyLength = 10;
  };
  ExternalRequestSpec spec;
  spec.method = HostMethodGet;
  spec.url = "https://x/";
  ExternalAnswer answer = plugin->SendRequest(spec);
  EXPECT_EQ(answer.conversionFailed, 1);
  EXPECT_EQ(answer.message, "Error converting response for GET https://x/: body was null");
}

}  // namespace
}  // namespace qmx
