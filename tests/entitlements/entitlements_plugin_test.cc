// The entitlements plugin driven through a real HostApi table.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "entitlements/entitlements_plugin.h"
#include "interface/api_descriptor.h"
#include "interface/host_value.h"
#include "serialization/json.h"
#include "support/plugin_harness.h"
#include "support/state_host.h"

namespace qmx {
namespace {

using test::kAccessPath;
using test::kMessagePath;
using test::kOutOfSyncPath;
using test::kRegionPath;
constexpr const char* kGlobals = test::kGlobalsPath;
constexpr const char* kRegionData = test::kRegionDataPath;
constexpr char kRegionDataJson[] =
    R"({"eu":{"servers":{"entitlements":{"entitlements_url":"https://eu.example/token"}}},)"
    R"("us":{"servers":{"entitlements":{"entitlements_url":"https://us.example/token"}}},)"
    R"("eu2":{"servers":{"entitlements":{"entitlements_url":"https://eu.example/token"}}},)"
    R"("bare":{"servers":{}}})";
constexpr int64_t kMs = 1000000;

using test::TokenBody;
using test::TokenWithClaims;

// Notes whether the retry timer still existed when the runtime's shutdown
// made its first unsubscription at the host.
class TestPlugin : public EntitlementsPlugin {
 public:
  using EntitlementsPlugin::EntitlementsPlugin;
  void UnsubscribeEvent(const char* name, uint32_t cookie) override {
    if (timerAtFirstUnsubscribe != nullptr && *timerAtFirstUnsubscribe == -1) {
      *timerAtFirstUnsubscribe = Timers().HasTimer(kTimerName) ? 1 : 0;
    }
    EntitlementsPlugin::UnsubscribeEvent(name, cookie);
  }
  int* timerAtFirstUnsubscribe = nullptr;
};

class EntitlementsPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.states[kGlobals] = R"({"region":"eu"})";
    host.states[kRegionData] = kRegionDataJson;
  }
  void TearDown() override { Stop(); }

  // The plugin's retry policy: the test's clock and a fixed seed.
  RetryPolicy Twin() { return RetryPolicy([this] { return now; }, 12345); }
  bool Start() {
    plugin = new TestPlugin(Twin());
    plugin->Load(ApiVersion{18, 2, 1, {}, {}});
    return plugin->Callbacks()->Initialize(plugin, host.Handle());
  }
  void Stop() {
    if (plugin != nullptr) plugin->Callbacks()->Shutdown(plugin);
    plugin = nullptr;
    // Their contexts pointed into the plugin just destroyed.
    host.subscriptions.clear();
    host.scheduled.clear();
  }
  void Succeed(const std::string& claims = R"({"sub":"u1","iss":"i1","entitlements":["a","b"]})") {
    host.service.result = 0;
    host.service.status = 200;
    host.service.headerCount = 0;
    host.service.body = TokenBody(TokenWithClaims(claims));
  }
  void Fail() {
    host.service.result = 0;
    host.service.status = 503;
    host.service.body = "down";
  }
  void Deliver(const std::string& path, const char* type, const char* dataJson = nullptr) {
    host.DeliverResourceEvent(path, type, dataJson);
  }
  std::vector<std::string> JsonTargets(uint32_t method) const {
    std::vector<std::string> targets;
    for (const auto& call : host.jsonCalls) {
      if (call.method == method) targets.push_back(call.target);
    }
    return targets;
  }
  // Event types fired for the token resource, in order.
  std::vector<std::string> TokenEvents() const {
    std::vector<std::string> types;
    for (const auto& fired : host.fired) {
      if (fired.name != "OnJsonApiEvent") continue;
      if (fired.payload.FindMember("uri").ToString().find("entitlements/v1/token") ==
          std::string::npos)
        continue;
      types.push_back(fired.payload.FindMember("eventType").ToString());
    }
    return types;
  }
  size_t LogCount(const std::string& text) const {
    return std::count_if(host.logLines.begin(), host.logLines.end(), [&](const auto& line) {
      return line.second.find(text) != std::string::npos;
    });
  }

  // Answers the settings, the access token and the service from its states
  // and its service answer.
  test::StateHost host;
  TestPlugin* plugin = nullptr;
  int64_t now = 1000 * kMs;
};

TEST_F(EntitlementsPluginTest, StartWithoutAccessTokenSendsNothing) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(host.externalCalls.empty());
  EXPECT_EQ(plugin->EntitlementsUrl(), "https://eu.example/token");
  EXPECT_EQ(JsonTargets(HostMethodGet),
            (std::vector<std::string>{kGlobals, kRegionData, kRegionPath, kAccessPath, kMessagePath,
                                      kOutOfSyncPath}));
  const TypeDescriptor* type = plugin->Registry().FindTypeByName("EntitlementsToken");
  ASSERT_NE(type, nullptr);
  std::vector<std::string> fields;
  for (const auto& field : type->fields) fields.push_back(field.name);
  EXPECT_EQ(fields, (std::vector<std::string>{"accessToken", "token", "subject", "issuer",
                                              "entitlements"}));

  RequestResult<EntitlementsTokenResource> answer = plugin->GetToken();
  ASSERT_FALSE(answer.Ok());
  EXPECT_EQ(answer.error().code, 404);
  EXPECT_EQ(answer.error().message, "Entitlements token is not ready yet");
}

TEST_F(EntitlementsPluginTest, StartWithAccessTokenFetchesOnceWithTheExactRequest) {
  host.states[kAccessPath] = R"({"token":"secret-access"})";
  Succeed();
  ASSERT_TRUE(Start());
  ASSERT_EQ(host.externalCalls.size(), 1u);
  const auto& call = host.externalCalls[0];
  EXPECT_EQ(call.method, 6u);
  EXPECT_EQ(call.url, "https://eu.example/token");
  std::map<std::string, std::string> headers(call.headers.begin(), call.headers.end());
  EXPECT_EQ(headers["Authorization"], "Bearer secret-access");
  EXPECT_EQ(headers["Accept"], "application/json");
  EXPECT_EQ(headers["Content-Type"], "application/json");
  EXPECT_EQ(call.body, "{\r\n    \"urn\": \"urn:entitlement:%\"\r\n}");

  auto answer = plugin->GetToken();
  ASSERT_TRUE(answer.Ok());
  const auto& record = answer.value();
  EXPECT_EQ(record.accessToken, "secret-access");
  EXPECT_EQ(record.subject, "u1");
  EXPECT_EQ(record.issuer, "i1");
  EXPECT_EQ(record.entitlements, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(TokenEvents(), (std::vector<std::string>{"Create"}));
  ASSERT_EQ(JsonTargets(HostMethodPost),
            (std::vector<std::string>{"/vask-messaging-service/v1/entitlements"}));
  auto post = std::find_if(host.jsonCalls.begin(), host.jsonCalls.end(),
                           [](const auto& c) { return c.method == HostMethodPost; });
  EXPECT_EQ(post->argument.FindMember("token").ToString(), record.token);
  EXPECT_EQ(post->argument.FindMember("entitlements").Size(), 2u);

  // An Update with the same access token fetches again and publishes an Update.
  Deliver(kAccessPath, "Update", R"({"token":"secret-access"})");
  EXPECT_EQ(host.externalCalls.size(), 2u);
  EXPECT_EQ(TokenEvents(), (std::vector<std::string>{"Create", "Update"}));
  // No credential reaches the log.
  for (const auto& line : host.logLines) {
    EXPECT_EQ(line.second.find("secret-access"), std::string::npos) << line.second;
    EXPECT_EQ(line.second.find(record.token), std::string::npos) << line.second;
  }
}

TEST_F(EntitlementsPluginTest, ClaimsFillTheRecordAndATokenWithoutAListKeepsThePreviousOne) {
  struct Case {
    const char* claims;
    std::vector<std::string> entitlements;
    const char* subject;
  };
  const Case cases[] = {
      {R"({"sub":"s","entitlements":["a",5,"b"]})", {"a", "", "b"}, "s"},
      {R"({"sub":7,"entitlements":"x"})", {"a", "", "b"}, ""},
      {R"({"iss":"i"})", {"a", "", "b"}, ""},
      {"not json", {"a", "", "b"}, ""},
      {R"({"entitlements":[]})", {}, ""},
      {R"({"sub":"s"})", {}, "s"},
  };
  host.states[kAccessPath] = R"({"token":"t"})";
  Succeed(R"({"entitlements":["old"]})");
  ASSERT_TRUE(Start());
  for (const Case& c : cases) {
    Succeed(c.claims);
    Deliver(kAccessPath, "Update", R"({"token":"t"})");
    auto answer = plugin->GetToken();
    ASSERT_TRUE(answer.Ok()) << c.claims;
    EXPECT_EQ(answer.value().entitlements, c.entitlements) << c.claims;
    EXPECT_EQ(answer.value().subject, c.subject) << c.claims;
  }
}

TEST_F(EntitlementsPluginTest, SignOutEndsTheKeptEntitlementsList) {
  host.states[kAccessPath] = R"({"token":"first-user"})";
  Succeed(R"({"sub":"u1","entitlements":["a","b"]})");
  ASSERT_TRUE(Start());
  Deliver(kAccessPath, "Delete");
  // The next user's token carries no list: it publishes none, not the last one.
  Succeed(R"({"sub":"u2"})");
  Deliver(kAccessPath, "Create", R"({"token":"second-user"})");
  auto answer = plugin->GetToken();
  ASSERT_TRUE(answer.Ok());
  EXPECT_EQ(answer.value().subject, "u2");
  EXPECT_TRUE(answer.value().entitlements.empty());
  auto last = std::find_if(host.fired.rbegin(), host.fired.rend(),
                           [](const auto& fired) { return fired.name == "OnJsonApiEvent"; });
  ASSERT_NE(last, host.fired.rend());
  const Value& published = last->payload.FindMember("data");
  EXPECT_EQ(published.FindMember("entitlements").Kind(), ValueKind::Collection);
  EXPECT_EQ(published.FindMember("entitlements").Size(), 0u);
}

TEST_F(EntitlementsPluginTest, SuccessBoundariesAndUnusableBodies) {
  struct Case {
    int32_t result;
    uint32_t status;
    uint32_t headerCount;  // non-zero with null headers: a conversion failure
    std::string body;
    bool published;
    bool retry;
  };
  const Case cases[] = {
      {0, 200, 0, TokenBody("x.y"), true, false},
      {0, 299, 0, TokenBody("x.y"), true, false},
      {0, 199, 0, TokenBody("x.y"), false, true},
      {0, 300, 0, TokenBody("x.y"), false, true},
      {1, 200, 0, "refused", false, true},
      {0, 200, 2, TokenBody("x.y"), false, true},
      {0, 200, 0, "not json", false, false},
      {0, 200, 0, "{}", false, false},
      {0, 200, 0, R"({"entitlements_token":""})", false, false},
      {0, 200, 0, R"({"entitlements_token":5})", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.result) + " " + std::to_string(c.status) + " " + c.body);
    host.fired.clear();
    ASSERT_TRUE(Start());
    host.service.result = c.result;
    host.service.status = c.status;
    host.service.headerCount = c.headerCount;
    host.service.body = c.body;
    Deliver(kAccessPath, "Create", R"({"token":"t"})");
    ASSERT_EQ(host.externalCalls.size(), 1u);
    EXPECT_EQ(plugin->TokenReady(), c.published);
    EXPECT_EQ(TokenEvents().size(), c.published ? 1u : 0u);
    EXPECT_EQ(plugin->TimerActive(), c.retry);
    EXPECT_EQ(plugin->Timers().HasTimer(EntitlementsPlugin::kTimerName), c.retry);
    if (c.retry) {
      // The first failure's delay, as the plugin's policy gives it.
      EXPECT_EQ(plugin->Retry().RetryDelay(), Twin().Backoff());
      EXPECT_EQ(plugin->Retry().NextRetryTime(), now + plugin->Retry().RetryDelay() * kMs);
    }
    Stop();
    host.externalCalls.clear();
  }
}

TEST_F(EntitlementsPluginTest, RetriesGrowToTheCapOnOneTimerUntilSuccess) {
  Fail();
  ASSERT_TRUE(Start());
  Deliver(kAccessPath, "Create", R"({"token":"t"})");
  std::vector<int64_t> delays{plugin->Retry().RetryDelay()};
  for (int i = 0; i < 4; ++i) {
    // The tick before the deadline only reads the clock.
    now = plugin->Retry().NextRetryTime() - 1;
    plugin->OnTick();
    EXPECT_EQ(host.externalCalls.size(), delays.size());
    now = plugin->Retry().NextRetryTime();
    plugin->OnTick();
    EXPECT_EQ(host.externalCalls.size(), delays.size() + 1);
    delays.push_back(plugin->Retry().RetryDelay());
  }
  // Each failure takes the policy's next delay (its arithmetic is
  // RetryPolicyTest's): a policy of the same clock and seed gives them all.
  RetryPolicy twin = Twin();
  std::vector<int64_t> expected;
  for (size_t i = 0; i < delays.size(); ++i) expected.push_back(twin.Backoff());
  EXPECT_EQ(delays, expected);
  EXPECT_EQ(std::count_if(host.scheduled.begin(), host.scheduled.end(),
                          [](const auto& s) { return s.label == "Timer: entitlements.tick"; }),
            1);

  Succeed();
  now = plugin->Retry().NextRetryTime();
  plugin->OnTick();
  EXPECT_TRUE(plugin->TokenReady());
  EXPECT_FALSE(plugin->TimerActive());
  EXPECT_FALSE(plugin->Timers().HasTimer(EntitlementsPlugin::kTimerName));
  EXPECT_EQ(plugin->Retry().RetryDelay(), plugin->Retry().InitialRetryDelay());
  // A tick that was already due does nothing once the timer is gone.
  plugin->OnTick();
  EXPECT_EQ(host.externalCalls.size(), 6u);
}

TEST_F(EntitlementsPluginTest, UnusableAnswersWhileARetryIsArmedDoNotFetchOnEveryTick) {
  Fail();
  ASSERT_TRUE(Start());
  Deliver(kAccessPath, "Create", R"({"token":"t"})");
  ASSERT_TRUE(plugin->TimerActive());
  for (const char* body : {"not json", R"({"entitlements_token":""})"}) {
    SCOPED_TRACE(body);
    host.service.status = 200;
    host.service.body = body;
    now = plugin->Retry().NextRetryTime();
    const size_t before = host.externalCalls.size();
    // The tick at the deadline fetches once; the ticks of 0.2 s after it,
    // up to the deadline that failure set, do not.
    plugin->OnTick();
    const int64_t next = plugin->Retry().NextRetryTime();
    ASSERT_GT(next, now);
    for (now += 200 * kMs; now < next; now += 200 * kMs) plugin->OnTick();
    EXPECT_EQ(host.externalCalls.size(), before + 1);
    EXPECT_TRUE(plugin->TimerActive());
    EXPECT_FALSE(plugin->TokenReady());
  }
  EXPECT_EQ(std::count_if(host.scheduled.begin(), host.scheduled.end(),
                          [](const auto& s) { return s.label == "Timer: entitlements.tick"; }),
            1);
}

TEST_F(EntitlementsPluginTest, AccessTokenDeleteWithdrawsTheToken) {
  host.states[kAccessPath] = R"({"token":"t"})";
  Succeed();
  ASSERT_TRUE(Start());
  Deliver(kAccessPath, "Delete");
  EXPECT_EQ(TokenEvents(), (std::vector<std::string>{"Create", "Delete"}));
  EXPECT_EQ(JsonTargets(HostMethodDelete),
            (std::vector<std::string>{"/vask-messaging-service/v1/entitlements"}));
  EXPECT_FALSE(plugin->GetToken().Ok());
  // Without an access token a trigger sends nothing.
  Deliver(kOutOfSyncPath, "Delete");
  EXPECT_EQ(host.externalCalls.size(), 1u);
  // The next success is a Create again.
  Deliver(kAccessPath, "Create", R"({"token":"t2"})");
  EXPECT_EQ(TokenEvents(), (std::vector<std::string>{"Create", "Delete", "Create"}));
}

TEST_F(EntitlementsPluginTest, RegionEvents) {
  host.states[kAccessPath] = R"({"token":"t"})";
  Succeed();
  ASSERT_TRUE(Start());
  ASSERT_EQ(host.externalCalls.size(), 1u);
  // Another region with the same URL fetches nothing.
  Deliver(kRegionPath, "Update", R"({"region":"eu2"})");
  EXPECT_EQ(host.externalCalls.size(), 1u);
  // A different URL fetches from it.
  Deliver(kRegionPath, "Update", R"({"region":"us"})");
  ASSERT_EQ(host.externalCalls.size(), 2u);
  EXPECT_EQ(host.externalCalls[1].url, "https://us.example/token");
  // An unknown region is logged twice and leaves no URL to fetch from.
  Deliver(kRegionPath, "Update", R"({"region":"mars"})");
  EXPECT_EQ(LogCount("Unsupported region 'mars'."), 2u);
  EXPECT_EQ(plugin->EntitlementsUrl(), "");
  EXPECT_EQ(host.externalCalls.size(), 2u);
  // A walk that breaks halfway logs its own line and one more.
  Deliver(kRegionPath, "Create", R"({"region":"bare"})");
  EXPECT_EQ(LogCount("Failed to get 'entitlements' from servers settings."), 1u);
  EXPECT_EQ(LogCount("Unsupported region 'bare'."), 1u);
  // A Delete is ignored.
  Deliver(kRegionPath, "Delete");
  EXPECT_EQ(plugin->EntitlementsUrl(), "");
}

TEST_F(EntitlementsPluginTest, SettingsFailuresAreLogged) {
  struct Case {
    const char* globals;  // nullptr: the read fails
    const char* regionData;
    const char* line;
    size_t lines;  // a failed region read is followed by "No region provided."
  };
  const Case cases[] = {
      {nullptr, kRegionDataJson, "Failed to get global install settings.", 2},
      {"{}", kRegionDataJson, "Failed to get 'region' from global install settings.", 2},
      {R"({"region":5})", kRegionDataJson, "No region provided.", 1},
      {R"({"region":"eu"})", nullptr, "Failed to get 'region_data' from system settings.", 1},
      {R"({"region":"eu"})", R"({"eu":{}})", "Failed to get 'servers' from region settings.", 1},
      {R"({"region":"eu"})", R"({"eu":{"servers":{"entitlements":{}}}})",
       "Failed to get 'entitlements_url' from entitlements settings.", 1},
      {R"({"region":"eu"})", R"({"eu":{"servers":{"entitlements":{"entitlements_url":""}}}})",
       "Entitlements Url was empty.", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    host.states.erase(kGlobals);
    host.states.erase(kRegionData);
    if (c.globals != nullptr) host.states[kGlobals] = c.globals;
    if (c.regionData != nullptr) host.states[kRegionData] = c.regionData;
    host.logLines.clear();
    ASSERT_TRUE(Start());
    EXPECT_EQ(plugin->EntitlementsUrl(), "");
    EXPECT_EQ(LogCount(c.line), 1u);
    EXPECT_EQ(host.logLines.size(), c.lines);
    Stop();
  }
}

TEST_F(EntitlementsPluginTest, MessageAndOutOfSyncEventsByType) {
  struct Case {
    const char* path;
    const char* type;
    bool fetches;
  };
  const Case cases[] = {
      {kMessagePath, "Create", true},    {kMessagePath, "Update", true},
      {kMessagePath, "Delete", false},   {kOutOfSyncPath, "Create", false},
      {kOutOfSyncPath, "Update", false}, {kOutOfSyncPath, "Delete", true},
  };
  host.states[kAccessPath] = R"({"token":"t"})";
  Succeed();
  ASSERT_TRUE(Start());
  for (const Case& c : cases) {
    size_t before = host.externalCalls.size();
    Deliver(c.path, c.type, R"({"version":"3"})");
    EXPECT_EQ(host.externalCalls.size(), before + (c.fetches ? 1 : 0)) << c.path << " " << c.type;
  }
}

TEST_F(EntitlementsPluginTest, ShutdownRemovesTheTimerBeforeUnsubscribing) {
  for (bool failing : {true, false}) {
    if (failing)
      Fail();
    else
      Succeed();
    ASSERT_TRUE(Start());
    Deliver(kAccessPath, "Create", R"({"token":"t"})");
    int timerAtUnsubscribe = -1;
    plugin->timerAtFirstUnsubscribe = &timerAtUnsubscribe;
    ASSERT_EQ(plugin->Timers().HasTimer(EntitlementsPlugin::kTimerName), failing);
    Stop();
    EXPECT_EQ(timerAtUnsubscribe, 0);
  }
}

TEST(EntitlementsDescriptorTest, TheTokenTypeCarriesThePluginsDefaultTags) {
  test::PluginHarness harness(&test::LoadLinkedPlugin);
  ASSERT_TRUE(harness.Start());
  const ApiDescriptor* descriptor = harness.Record().descriptor;
  ASSERT_NE(descriptor, nullptr);
  // The plugin's endpoints, all of them: a new one is added here.
  const auto* functions = static_cast<const ApiFunctionEntry*>(descriptor->functions);
  std::vector<std::string> functionNames;
  for (uint32_t i = 0; i < descriptor->functionCount; ++i) functionNames.emplace_back(functions[i].name);
  EXPECT_EQ(functionNames, (std::vector<std::string>{"GetEntitlementsV1Token"}));
  const auto* types = static_cast<const ApiTypeEntry*>(descriptor->types);
  const ApiTypeEntry* token = nullptr;
  for (uint32_t i = 0; i < descriptor->typeCount; ++i) {
    if (std::string_view(types[i].name) == "EntitlementsToken") token = &types[i];
  }
  ASSERT_NE(token, nullptr);
  std::vector<std::string> tags;
  const uint32_t tagCount = token->tagCount;
  for (uint32_t i = 0; i < tagCount; ++i) tags.emplace_back(token->tags[i]);
  EXPECT_EQ(tags, (std::vector<std::string>{"Plugins", "Plugin entitlements"}));
  const uint32_t fieldCount = token->fieldCount;
  EXPECT_EQ(fieldCount, 5u);
}

}  // namespace
}  // namespace qmx
