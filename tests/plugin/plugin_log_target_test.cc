// How Initialize hands logging over to the host: the console targets leave
// the logger through their own Detach, and the host-forwarding target is the
// one FindTarget reports.
#include <gtest/gtest.h>

#include <string>

#include "logging/categories.h"
#include "logging/logger.h"
#include "plugin/plugin.h"
#include "support/test_host.h"

namespace qmx {
namespace {

class QuietPlugin : public Plugin {
 public:
  QuietPlugin() : Plugin("quiet") {}
};

bool HostGotLine(const test::TestHost& host, const std::string& text) {
  for (const auto& line : host.logLines) {
    if (line.second.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(PluginLoggingTest, InitializeDetachesEachConsoleSoItCanBeAttachedAgain) {
  test::TestHost host;
  auto* plugin = new QuietPlugin();
  plugin->Load(ApiVersion{});
  LogSink* stdErr = StdErrTarget();
  ASSERT_NE(stdErr, nullptr);
  ASSERT_TRUE(stdErr->isAttached(stdErr));
  ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));

  const struct {
    LogSink* sink;
    const char* name;
  } consoles[] = {
      {StdErrTarget(), "StdErrLogTarget"},
      {StdOutTarget(), "StdOutLogTarget"},
      {DebuggerConsoleTarget(), "DebuggerConsoleLogTarget"},
  };
  for (const auto& c : consoles) {
    ASSERT_NE(c.sink, nullptr) << c.name;
    EXPECT_FALSE(c.sink->isAttached(c.sink)) << c.name;
    EXPECT_EQ(FindTarget(c.name), nullptr) << c.name;
  }
  // A console attached again sits beside the host's target.
  stdErr->attach(stdErr);
  EXPECT_TRUE(stdErr->isAttached(stdErr));
  EXPECT_EQ(FindTarget("StdErrLogTarget"), stdErr);
  EXPECT_NE(FindTarget("PluginLogTarget"), nullptr);
  stdErr->detach(stdErr);
  EXPECT_EQ(FindTarget("StdErrLogTarget"), nullptr);
  plugin->Callbacks()->Shutdown(plugin);
}

TEST(PluginLoggingTest, FindTargetFindsTheHostForwardingTargetOnceAttached) {
  test::TestHost host;
  auto* plugin = new QuietPlugin();
  plugin->Load(ApiVersion{});
  EXPECT_EQ(FindTarget("PluginLogTarget"), nullptr);  // not before Initialize
  ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));

  LogSink* sink = FindTarget("PluginLogTarget");
  ASSERT_NE(sink, nullptr);
  EXPECT_STREQ(sink->getName(sink), "PluginLogTarget");
  EXPECT_TRUE(sink->isAttached(sink));
  EXPECT_EQ(sink->getMinLevel(sink), kLogOkay);
  EXPECT_EQ(sink->getIncludeMask(sink), 0u);
  EXPECT_EQ(sink->getExcludeMask(sink), 0u);
  EXPECT_STREQ(sink->getFormat(sink), "#D| #L| #G| #M");
  EXPECT_EQ(FindTarget("pluginLogTarget"), nullptr);  // names compare exactly

  // The interface found is the one the host's lines come through.
  sink->setMinLevel(sink, kLogAlways);
  Log(kLogError, kCategoryNet, "below the target's level");
  Log(kLogAlways, kCategoryNet, "reaches the host");
  EXPECT_FALSE(HostGotLine(host, "below the target's level"));
  EXPECT_TRUE(HostGotLine(host, "| ALWAYS| NET| reaches the host"));

  sink->detach(sink);
  EXPECT_FALSE(sink->isAttached(sink));
  EXPECT_EQ(FindTarget("PluginLogTarget"), nullptr);
  Log(kLogAlways, 0, "after the detach");
  EXPECT_FALSE(HostGotLine(host, "after the detach"));
  plugin->Callbacks()->Shutdown(plugin);
}

}  // namespace
}  // namespace qmx
