// Subscriptions, event dispatch, publication and service-proxy events.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "interface/host_value.h"
#include "plugin_fixture.h"

namespace qmx::test {
namespace {

class EventSubscriptionsTest : public PluginFixture {};

Value ProxyResponse(const char* uuid, const char* service, const char* method, const char* payload) {
  Value response;
  response.Member("uuid").SetString(uuid);
  response.Member("serviceName").SetString(service);
  response.Member("methodName").SetString(method);
  response.Member("payload").SetString(payload);
  return response;
}

TEST_F(EventSubscriptionsTest, SubscriptionsShareOneHostSubscriptionPerEventName) {
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

TEST_F(EventSubscriptionsTest, ShutdownUnsubscribesEveryNameOnce) {
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

TEST_F(EventSubscriptionsTest, TypedSubscribeDeliversInitialStateAndEvents) {
  host.onJsonApi = [](HostResponse* response, const HostRequest*) {
    Value state;
    state.SetString("current");
    FromValue(state, response->body);
    response->release = [](HostResponse* r) { Release(r->body); };
  };
  std::vector<std::pair<int, std::string>> seen;
  plugin->Events().Subscribe<std::string>("/res/item", [&](const TypedResourceEvent<std::string>& event) {
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

TEST_F(EventSubscriptionsTest, PublishingFiresSpecificThenGeneralName) {
  plugin->Events().PublishResourceDeleted("/entitlements/v1/token");
  ASSERT_EQ(host.fired.size(), 2u);
  EXPECT_EQ(host.fired[0].name, "OnJsonApiEvent_entitlements_v1_token");
  EXPECT_EQ(host.fired[1].name, "OnJsonApiEvent");
  EXPECT_EQ(host.fired[0].payload.FindMember("uri").GetString(), "/entitlements/v1/token");
  EXPECT_EQ(host.fired[1].payload.FindMember("eventType").GetString(), "Delete");
}

TEST_F(EventSubscriptionsTest, ServiceProxyResponsesAreKeptOnePerKey) {
  std::vector<std::string> proxy;
  for (const auto& s : host.subscriptions) {
    if (s.flag == 1) proxy.push_back(s.name);
  }
  EXPECT_EQ(proxy, (std::vector<std::string>{"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                             "OnServiceProxyAsyncEvent"}));

  host.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u1", "a", "b", "first"));
  host.Deliver("OnServiceProxyUuidEvent", ProxyResponse("u1", "c", "d", "second"));
  std::optional<PluginServiceProxyResponse> kept = plugin->Events().ReceivedServiceProxyResponse("u1");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->payload, "second");
  EXPECT_EQ(kept->serviceName, "c");
  EXPECT_EQ(plugin->Events().ReceivedServiceProxyResponseCount(), 1u);

  host.Deliver("OnServiceProxyMethodEvent", ProxyResponse("u2", "a", "b", "by method"));
  kept = plugin->Events().ReceivedServiceProxyResponse("a.b");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->payload, "by method");
  EXPECT_EQ(kept->uuid, "u2");
  EXPECT_FALSE(plugin->Events().ReceivedServiceProxyResponse("u2").has_value());
  EXPECT_EQ(plugin->Events().ReceivedServiceProxyResponseCount(), 2u);

  host.Deliver("OnServiceProxyAsyncEvent", ProxyResponse("u3", "x", "y", "async"));
  EXPECT_EQ(plugin->Events().ReceivedServiceProxyResponseCount(), 2u);
  EXPECT_FALSE(plugin->Events().ReceivedServiceProxyResponse("x.y").has_value());
  EXPECT_TRUE(HostLogged(host, "|  ERROR| DBG| probe: Could not find registered handler for async service proxy event x.y"));
}

}  // namespace
}  // namespace qmx::test
