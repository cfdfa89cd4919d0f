// The reference host's own behaviour, seen from a small probe plugin linked
// into the test: the JSON API, events, endpoint routing, timers, outside
// requests and configuration.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "external_http.h"
#include "interface/host_value.h"
#include "plugin_module.h"
#include "reference_host.h"
#include "serialization/json.h"
#include "serialization/yaml.h"
#include "work_queue.h"

namespace qmx::host {
namespace {

// A plugin reduced to what the host sees: a callback table, one endpoint
// "/probe/items/{id}" that runs `onCall` and answers with the request's
// target, and two event subscriptions that record what arrives.
struct Probe {
  static inline const HostApi* api = nullptr;
  static inline uint32_t cookie = 0;
  static inline std::function<void()> onCall;
  static inline std::vector<std::string> events;  // "name eventType uri"
  static inline std::vector<std::string> targets;

  static bool Initialize(void*, HostHandle* handle) {
    api = handle->api;
    cookie = handle->hostCookie;
    api->SubscribeEvent(api, "OnJsonApiEvent_a_b", cookie, &OnEvent, nullptr, 0);
    api->SubscribeEvent(api, "OnJsonApiEvent", cookie, &OnEvent, nullptr, 0);
    return true;
  }
  static void Shutdown(void*) { api = nullptr; }
  static void Memory(void*, MemoryStats* out) { *out = MemoryStats{}; }
  static void OnEvent(HostEvent* event) {
    ValueResult payload = ToValue(event->payload, "<payload>");
    events.push_back(std::string(event->name) + " " + payload.value().FindMember("eventType").ToString() + " " +
                     payload.value().FindMember("uri").ToString());
  }
  static void Entry(HostResponse* response, HostRequest* request) {
    const char* target = request->target;  // a packed field: copied, never bound to a reference
    targets.emplace_back(target);
    // Runs once: the body may call the endpoint again.
    std::function<void()> call = std::move(onCall);
    onCall = nullptr;
    if (call) call();
    response->status = 200;
    response->release = &ReleaseResponse;
    const std::string_view path(target);
    if (path.ends_with("/streamed") || path.ends_with("/broken-stream")) {
      response->streamRead = path.ends_with("/streamed") ? &StreamJson : &StreamFailure;
      return;
    }
    Value body;
    body.SetString(request->target);
    FromValue(body, response->body);
  }
  // A streamed answer in two pieces, and one that fails on its first read.
  static bool StreamJson(void*, uint8_t* buffer, uint32_t* size, bool* more) {
    static int piece = 0;
    const std::string_view text = piece++ % 2 == 0 ? "[1," : "true]";
    std::memcpy(buffer, text.data(), text.size());
    *size = static_cast<uint32_t>(text.size());
    *more = piece % 2 == 1;
    return true;
  }
  static bool StreamFailure(void*, uint8_t*, uint32_t*, bool*) { return false; }
  static void Load(PluginLoadRecord* record) {
    static const PluginCallbacks callbacks{&Initialize, &Shutdown, &Memory};
    static ApiFunctionEntry function{};
    static ApiDescriptor descriptor{};
    function.entrySize = sizeof function;
    function.method = HostMethodGet;
    function.name = "GetProbeItem";
    function.path = "/probe/items/{id}";
    function.entry = &Entry;
    descriptor.functions = &function;
    descriptor.functionCount = 1;
    record->callbacks = &callbacks;
    static int context = 0;
    record->context = &context;
    record->shortName = "probe";
    record->descriptor = &descriptor;
  }
};

class ReferenceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Probe::events.clear();
    Probe::targets.clear();
    Probe::onCall = nullptr;
    plugin = PluginModule::FromFunction(&Probe::Load, "probe");
    Result<void, std::string> started = host.Start(*plugin, 18, 0, 0);
    ASSERT_TRUE(started.Ok()) << started.error();
  }
  void TearDown() override { host.Stop(); }
  // Runs body on the plugin thread, as the plugin would.
  void AsPlugin(std::function<void()> body) {
    Probe::onCall = std::move(body);
    host.Get("/probe/items/run");
    Probe::onCall = nullptr;
  }

  std::unique_ptr<PluginModule> plugin;
  ReferenceHost host;
};

TEST_F(ReferenceHostTest, ResourcesAreCreatedUpdatedAndDeletedWithTheirEvents) {
  Value first;
  first.SetSigned(1);
  EXPECT_EQ(host.Put("/a/b", first).status, 201u);
  Value second;
  second.SetSigned(2);
  EXPECT_EQ(host.Put("/a/b", second).status, 200u);
  ApiAnswer read = host.Get("/a/b?ignored=1");
  EXPECT_TRUE(read.Ok());
  EXPECT_EQ(read.body.GetSigned(), 2);
  EXPECT_TRUE(host.Delete("/a/b").Ok());
  ApiAnswer gone = host.Delete("/a/b");
  EXPECT_EQ(gone.status, 404u);
  EXPECT_EQ(gone.error, "No resource at /a/b");
  host.Settle();
  // Each change under the path's own event name, then under "OnJsonApiEvent".
  EXPECT_EQ(Probe::events, (std::vector<std::string>{
                               "OnJsonApiEvent_a_b Create /a/b", "OnJsonApiEvent Create /a/b",
                               "OnJsonApiEvent_a_b Update /a/b", "OnJsonApiEvent Update /a/b",
                               "OnJsonApiEvent_a_b Delete /a/b", "OnJsonApiEvent Delete /a/b"}));
  EXPECT_EQ(host.Call(HostMethodPatch, "/a/b").status, 405u);
  EXPECT_EQ(host.Get("relative").status, 400u);
}

TEST_F(ReferenceHostTest, EndpointsAreRoutedByMethodAndTemplate) {
  ApiAnswer answer = host.Get("/probe/items/42?verbose=1");
  EXPECT_TRUE(answer.Ok());
  EXPECT_EQ(answer.body.GetString(), "/probe/items/42?verbose=1");
  // An empty segment, an extra segment and another method are not the route.
  EXPECT_EQ(host.Get("/probe/items/").status, 404u);
  EXPECT_EQ(host.Get("/probe/items/42/more").status, 404u);
  Value body;
  EXPECT_EQ(host.Put("/probe/items/42", body).status, 201u);  // stored as a resource instead
  EXPECT_EQ(Probe::targets.size(), 1u);

  EXPECT_TRUE(RouteMatches("/a/{x}/c", "/a/b/c"));
  EXPECT_FALSE(RouteMatches("/a/{x}/c", "/a/b/x/c"));
  EXPECT_TRUE(RouteMatches("/files/{+rest}", "/files/a/b/c"));
  EXPECT_TRUE(RouteMatches("/plain", "/plain"));
  EXPECT_FALSE(RouteMatches("/plain", "/plain/"));
}

TEST_F(ReferenceHostTest, StreamedAnswersAreReadToTheirEndOrRefused) {
  ApiAnswer streamed = host.Get("/probe/items/streamed");
  ASSERT_TRUE(streamed.Ok()) << streamed.error;
  EXPECT_EQ(WriteJson(streamed.body, nullptr, nullptr), "[1,true]");
  ApiAnswer broken = host.Get("/probe/items/broken-stream");
  EXPECT_EQ(broken.status, 502u);
  EXPECT_EQ(broken.error, "the endpoint's stream failed");
}

TEST_F(ReferenceHostTest, ThePluginsOwnRequestsReachTheStoreAndItsEndpoints) {
  std::string ownAnswer;
  uint32_t putStatus = 0;
  AsPlugin([&] {
    Value record;
    record.Member("subject").SetString("alice");
    HostArgument argument{};
    FromValue(record, argument.value);
    HostRequest request{};
    request.method = HostMethodPost;
    request.target = "/messaging/copy";
    request.arguments = &argument;
    request.argumentCount = 1;
    HostResponse response{};
    Probe::api->CallJsonApi(Probe::api, &response, &request);
    putStatus = response.status;
    if (response.release != nullptr) response.release(&response);
    Release(argument.value);

    HostRequest own{};
    own.method = HostMethodGet;
    own.target = "/probe/items/7";
    HostResponse ownResponse{};
    Probe::api->CallJsonApi(Probe::api, &ownResponse, &own);
    ownAnswer = ToValue(ownResponse.body, "<result>").value().ToString();
    if (ownResponse.release != nullptr) ownResponse.release(&ownResponse);
  });
  EXPECT_EQ(putStatus, 201u);
  EXPECT_EQ(host.Get("/messaging/copy").body.FindMember("subject").GetString(), "alice");
  EXPECT_EQ(ownAnswer, "/probe/items/7");
}

TEST_F(ReferenceHostTest, ScheduledCallbacksRunInDueOrderAndNeverAfterShutdown) {
  static std::vector<int> order;
  order.clear();
  auto record = [](void* context) { order.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context))); };
  AsPlugin([&] {
    Probe::api->ScheduleCallback(Probe::api, "late", record, reinterpret_cast<void*>(3), 0.06, 0);
    Probe::api->ScheduleCallback(Probe::api, "now", record, reinterpret_cast<void*>(1), -5, 0);
    Probe::api->ScheduleCallback(Probe::api, "soon", record, reinterpret_cast<void*>(2), 0.02, 0);
  });
  for (int i = 0; i < 1000 && order.size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  AsPlugin([&] { Probe::api->ScheduleCallback(Probe::api, "orphan", record, reinterpret_cast<void*>(4), 0.02, 0); });
  host.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(order.size(), 3u);
}

TEST(WorkQueueTest, CallFromInsideATaskRunsAtOnceAndDrainWaitsForDueTasks) {
  WorkQueue queue;
  std::vector<int> order;
  int nested = queue.Call([&] { return queue.Call([] { return 7; }); });
  EXPECT_EQ(nested, 7);
  std::latch gate(1);
  queue.Post([&] { gate.wait(); });  // holds the thread while both are queued
  queue.PostAt(WorkQueue::Clock::now(), [&] { order.push_back(2); });
  queue.Post([&] { order.push_back(1); });  // due at once: before the timed task
  gate.count_down();
  queue.Drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(ExternalRequestTest, RequestsTheHostCannotPerformAreRefusedWithAReason) {
  auto perform = [](uint32_t method, const char* url) {
    ExternalRequest request{};
    request.method = method;
    request.url = url;
    ExternalResponse response{};
    ExternalCallRecord record = PerformExternalRequest(request, response, 2);
    std::string body(reinterpret_cast<const char*>(response.body), response.bodyLength);
    int32_t result = response.result;
    response.release(&response);
    const uint8_t* released = response.body;  // packed: read by value
    EXPECT_EQ(released, nullptr);
    EXPECT_EQ(record.result, result);
    return std::make_pair(result, body);
  };
  EXPECT_EQ(perform(HostMethodCall, "http://127.0.0.1/"), std::make_pair(-1, std::string("unsupported method 8")));
  EXPECT_EQ(perform(HostMethodGet, "file:///etc/passwd").first, -1);
  EXPECT_EQ(perform(HostMethodGet, nullptr).first, -1);
  // Nothing listens on port 1: not reached.
  auto unreachable = perform(HostMethodPost, "http://127.0.0.1:1/entitlements");
  EXPECT_EQ(unreachable.first, 1);
  EXPECT_FALSE(unreachable.second.empty());
}

TEST(HostConfigTest, ConfigurationSectionsLandUnderTheirPaths) {
  ReferenceHost host;
  ValueResult config = ReadYaml(
      "install-settings: {globals: {region: eu}}\n"
      "system-settings: {region_data: {eu: {}}}\n"
      "resources: {/vaskclient/region-locale: {region: eu}}\n");
  Result<void, std::string> seeded = host.SeedFromConfig(config.value());
  ASSERT_TRUE(seeded.Ok()) << seeded.error();
  EXPECT_EQ(host.Get("/data-store/v1/install-settings/globals").body.FindMember("region").GetString(), "eu");
  EXPECT_TRUE(host.Get("/data-store/v1/system-settings/region_data").Ok());
  EXPECT_TRUE(host.Get("/vaskclient/region-locale").Ok());

  ValueResult unknown = ReadYaml("settings: {a: 1}\n");
  seeded = host.SeedFromConfig(unknown.value());
  ASSERT_FALSE(seeded.Ok());
  EXPECT_NE(seeded.error().find("unknown section 'settings'"), std::string::npos) << seeded.error();
  ValueResult relative = ReadYaml("resources: {a/b: 1}\n");
  seeded = host.SeedFromConfig(relative.value());
  ASSERT_FALSE(seeded.Ok());
  EXPECT_EQ(seeded.error(), "resource path 'a/b' must start with '/'");
  ValueResult scalar = ReadYaml("42\n");
  seeded = host.SeedFromConfig(scalar.value());
  ASSERT_FALSE(seeded.Ok());
  EXPECT_EQ(seeded.error(), "the configuration must be a mapping of sections");
}

}  // namespace
}  // namespace qmx::host
