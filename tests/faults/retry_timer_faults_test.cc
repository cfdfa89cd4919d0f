// The host runs scheduled callbacks when it likes, including callbacks of a
// retry timer that has been removed and added again in the meantime. However
// they interleave, one retry timer ticks on one chain of callbacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

// Runs every callback the host holds once (not those they schedule).
void RunPending(PluginHarness& harness) {
  size_t pending = harness.host.scheduled.size();
  for (size_t i = 0; i < pending; ++i) harness.host.RunNextScheduled();
}

void RunStaleTicks(LoadEntitlementsFn load, Findings& findings) {
  PluginHarness harness(load);
  findings.Check(harness.StartServing(), "serves a token");
  const std::string good = harness.host.service.body;
  for (int cycle = 0; cycle < 5; ++cycle) {
    findings.SetContext("cycle " + std::to_string(cycle));
    // A failure arms the timer; a success removes it while its tick is still
    // with the host; the next failure arms it again.
    harness.host.service.status = 503;
    harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
    harness.host.service.status = 200;
    harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
    harness.host.service.status = 503;
    harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
    RunPending(harness);
    findings.Check(harness.RetryTimers() == 1,
                   "one tick pending after the host ran the stale one, not " +
                       std::to_string(harness.RetryTimers()));
  }
  findings.SetContext("");
  harness.host.service.status = 200;
  harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
  RunPending(harness);
  findings.Check(harness.RetryTimers() == 0, "no tick left once the timer is gone");
}

class RetryTimerFaultsTest : public PluginLoadTest {};

TEST_P(RetryTimerFaultsTest, StaleTickOfARemovedTimerStartsNoSecondChain) { ExpectNoFindings(&RunStaleTicks); }

INSTANTIATE_TEST_SUITE_P(, RetryTimerFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
