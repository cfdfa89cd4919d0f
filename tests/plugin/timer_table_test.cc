// Named timers on one-shot host callbacks.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "plugin_fixture.h"

namespace qmx::test {
namespace {

class TimerTableTest : public PluginFixture {};

TEST_F(TimerTableTest, TimerGenerationsRetireOldSchedules) {
  int f = 0, g = 0;
  plugin->Timers().AddTimer("t", 0.2, [&] { ++f; });
  plugin->Timers().AddTimer("t", 0.2, [&] { ++g; });
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
  plugin->Timers().AddTimer("self", 0, [&] { plugin->Timers().RemoveTimer("self"); });
  host.scheduled.clear();
  plugin->Timers().AddTimer("self", 0, [&] { plugin->Timers().RemoveTimer("self"); });
  EXPECT_EQ(host.scheduled.back().delay, 0.0);
  host.RunNextScheduled();
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_FALSE(plugin->Timers().HasTimer("self"));
}

TEST_F(TimerTableTest, ZeroSecondTimerKeepsReschedulingWithDelayZero) {
  ASSERT_TRUE(host.scheduled.empty());
  int runs = 0;
  plugin->Timers().AddTimer("zero", 0, [&] { ++runs; });
  for (int i = 1; i <= 4; ++i) {
    ASSERT_EQ(host.scheduled.size(), 1u);
    EXPECT_EQ(host.scheduled[0].label, "Timer: zero");
    EXPECT_EQ(host.scheduled[0].delay, 0.0);
    ASSERT_TRUE(host.RunNextScheduled());
    EXPECT_EQ(runs, i);
  }
  plugin->Timers().RemoveTimer("zero");
  host.RunNextScheduled();  // the last schedule finds no timer
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_EQ(runs, 4);
}

TEST_F(TimerTableTest, ScheduledCallIdsStartAtOneAndNeverRepeat) {
  ASSERT_TRUE(plugin->Timers().OutstandingScheduledCallIds().empty());
  std::set<uint64_t> seen;
  uint64_t highest = 0;
  auto check = [&] {
    for (uint64_t id : plugin->Timers().OutstandingScheduledCallIds()) {
      if (seen.insert(id).second) {
        EXPECT_GT(id, highest);
        highest = id;
      }
    }
  };
  plugin->Timers().AddTimer("a", 0.5, [] {});
  EXPECT_EQ(plugin->Timers().OutstandingScheduledCallIds(), std::vector<uint64_t>{1});
  check();
  plugin->Timers().AddTimer("b", 0.5, [] {});
  check();
  host.RunNextScheduled();  // a fires and re-arms
  EXPECT_EQ(plugin->Timers().OutstandingScheduledCallIds(), (std::vector<uint64_t>{2, 3}));
  check();
  for (int i = 0; i < 20; ++i) {
    if (i % 5 == 0) plugin->Timers().AddTimer("a", 0.5, [] {});  // supersedes a's live schedule
    ASSERT_TRUE(host.RunNextScheduled());
    check();
  }
  EXPECT_GE(highest, 23u);
}

}  // namespace
}  // namespace qmx::test
