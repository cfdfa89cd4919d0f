// The plugin object: initialization, naming, logging to the host, lifetime.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "interface/counted_allocator.h"
#include "plugin_fixture.h"

namespace qmx::test {
namespace {

class PluginTest : public PluginFixture {};

TEST_F(PluginTest, UserAgentAndCookieComeFromInitialize) {
  EXPECT_EQ(plugin->External().UserAgent(), "VaskClient/18.2.1 (probe)");
  EXPECT_EQ(plugin->HostCookie(), 0xC00C1Eu);
}

TEST_F(PluginTest, LogLinesGoToTheHostOnceInitialized) {
  plugin->Timers().AddTimer("gone", 0.2, [] {});
  plugin->Timers().RemoveTimer("gone");
  host.RunNextScheduled();
  ASSERT_FALSE(host.logLines.empty());
  EXPECT_EQ(host.logLines.back().first, 1);
  EXPECT_NE(host.logLines.back().second.find("|   WARN| DBG;NET| probe: Couldn't find timer named gone"),
            std::string::npos)
      << host.logLines.back().second;

  // A second plugin in the same process finds the target and leaves logging alone.
  TestHost other;
  auto* second = new ProbePlugin();
  second->Load(ApiVersion{});
  second->Callbacks()->Initialize(second, other.Handle());
  second->Timers().AddTimer("gone", 0, [] {});
  second->Timers().RemoveTimer("gone");
  other.RunNextScheduled();
  EXPECT_TRUE(other.logLines.empty());
  second->Callbacks()->Shutdown(second);
}

TEST_F(PluginTest, OnStartDecidesInitialize) {
  TestHost other;
  auto* failing = new ProbePlugin();
  failing->startResult = false;
  failing->Load(ApiVersion{});
  EXPECT_FALSE(failing->Callbacks()->Initialize(failing, other.Handle()));
  failing->Callbacks()->Shutdown(failing);
}

// Stands between the parts and the host: records which host operation each
// call of a part reaches, then forwards it.
class RecordingPlugin : public ProbePlugin {
 public:
  void Subscribe(const std::string& path) override {
    seen.push_back("Subscribe " + path);
    ProbePlugin::Subscribe(path);
  }
  void CallJsonApi(HostResponse* response, HostRequest* request) override {
    seen.push_back(std::string("CallJsonApi ") + request->target);
    ProbePlugin::CallJsonApi(response, request);
  }
  void SendExternalRequest(ExternalResponse* response, ExternalRequest* request) override {
    seen.push_back(std::string("SendExternalRequest ") + request->url);
    ProbePlugin::SendExternalRequest(response, request);
  }
  void FireEvent(HostEvent* event) override {
    seen.push_back(std::string("FireEvent ") + event->name);
    ProbePlugin::FireEvent(event);
  }
  void SubscribeEvent(const char* name, uint32_t cookie, HostEventCallback callback, void* context,
                      int32_t flag) override {
    seen.push_back(std::string("SubscribeEvent ") + name);
    ProbePlugin::SubscribeEvent(name, cookie, callback, context, flag);
  }
  void ScheduleCallback(const char* label, HostTimerCallback callback, void* context, double seconds,
                        int32_t flag) override {
    seen.push_back(std::string("ScheduleCallback ") + label);
    ProbePlugin::ScheduleCallback(label, callback, context, seconds, flag);
  }
  std::vector<std::string> seen;
};

TEST(PluginPartsTest, EveryPartReachesTheHostThroughThePluginObject) {
  TestHost host;
  auto* plugin = new RecordingPlugin();
  plugin->Load(ApiVersion{});
  ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));
  EXPECT_EQ(plugin->seen, (std::vector<std::string>{"SubscribeEvent OnServiceProxyUuidEvent",
                                                    "SubscribeEvent OnServiceProxyMethodEvent",
                                                    "SubscribeEvent OnServiceProxyAsyncEvent"}));
  plugin->seen.clear();

  (void)plugin->JsonApi().Request(HostMethodGet, "/a");
  ExternalRequestSpec spec;
  spec.url = "https://x/";
  (void)plugin->External().SendRequest(spec);
  plugin->Events().PublishResourceDeleted("/r/s");
  plugin->Timers().AddTimer("t", 1, [] {});
  // The typed form subscribes through the object's Subscribe, then reads the
  // current state.
  plugin->Events().Subscribe<Value>("/p/q", [](const TypedResourceEvent<Value>&) {});
  EXPECT_EQ(plugin->seen,
            (std::vector<std::string>{"CallJsonApi /a", "SendExternalRequest https://x/",
                                      "FireEvent OnJsonApiEvent_r_s", "FireEvent OnJsonApiEvent",
                                      "ScheduleCallback Timer: t", "Subscribe /p/q",
                                      "SubscribeEvent OnJsonApiEvent_p_q", "CallJsonApi /p/q"}));
  plugin->Callbacks()->Shutdown(plugin);
}

// The index of a virtual member's slot under the Itanium C++ ABI (gcc and
// clang, mingw included): a pointer to a virtual member holds 1 + the byte
// offset of its slot, followed by the this-adjustment.
template <typename Member>
std::ptrdiff_t SlotOf(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t));
  std::ptrdiff_t words[2];
  std::memcpy(words, &member, sizeof member);
  EXPECT_EQ(words[0] % static_cast<std::ptrdiff_t>(sizeof(void*)), 1) << "not a virtual member";
  return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

// The object's virtual operations keep their order: Subscribe, Unsubscribe,
// the destructor, Shutdown, the host's nine operations in table order,
// RegisterApi, OnStart. The destructor takes two slots under this ABI.
// The runtime's two hooks are protected; this names them for the test.
class HookNames : public Plugin {
 public:
  using Plugin::OnStart;
  using Plugin::RegisterApi;
};

TEST(PluginSlotOrderTest, VirtualOperationsKeepTheirSlots) {
  using Path = void (Plugin::*)(const std::string&);
  const std::ptrdiff_t slots[] = {
      SlotOf(static_cast<Path>(&Plugin::Subscribe)),
      SlotOf(static_cast<Path>(&Plugin::Unsubscribe)),
      SlotOf(&Plugin::Shutdown),
      SlotOf(&Plugin::CallJsonApi),
      SlotOf(&Plugin::SendExternalRequest),
      SlotOf(&Plugin::FireEvent),
      SlotOf(&Plugin::SubscribeEvent),
      SlotOf(&Plugin::UnsubscribeEvent),
      SlotOf(&Plugin::ScheduleCallback),
      SlotOf(&Plugin::YieldThread),
      SlotOf(&Plugin::BeginWait),
      SlotOf(&Plugin::EndWait),
      SlotOf(&HookNames::RegisterApi),
      SlotOf(&HookNames::OnStart),
  };
  EXPECT_EQ(slots[0], 0);
  EXPECT_EQ(slots[1], 1);
  EXPECT_EQ(slots[2], 4);
  for (size_t i = 3; i < std::size(slots); ++i) EXPECT_EQ(slots[i], slots[i - 1] + 1) << i;
}

TEST(PluginLifetimeTest, DestroyingThePluginReturnsItsMemory) {
  TestHost host;
  unsigned long long before = BytesInUse();
  auto* plugin = new ProbePlugin();
  plugin->Load(ApiVersion{});
  plugin->Callbacks()->Initialize(plugin, host.Handle());
  plugin->Subscribe(std::string("/a"));
  EXPECT_GT(BytesInUse(), before);
  plugin->Callbacks()->Shutdown(plugin);
  EXPECT_EQ(BytesInUse(), before);
}

}  // namespace
}  // namespace qmx::test
