#include "logging/trace_providers.h"

#include <gtest/gtest.h>

#include "port/thread.h"
#include "port/trace.h"
#include "support/child_process.h"

namespace qmx {
namespace {

constexpr TraceEventDescriptor kEvents[] = {
    {.id = 1, .version = 0, .channel = 0, .level = 4, .opcode = 0, .task = 0, .keyword = 0},
    {.id = 2, .version = 0, .channel = 0, .level = 2, .opcode = 0, .task = 0, .keyword = 0x1},
    {.id = 3, .version = 0, .channel = 0, .level = 5, .opcode = 0, .task = 0, .keyword = 0x6},
};

TEST(TraceProviderTest, EnableStatePerEvent) {
  TraceProvider provider({1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, kEvents);
  const struct {
    uint8_t level;
    uint64_t any, all;
    bool expected[3];
  } cases[] = {
      {0, ~0ull, 0, {true, true, true}},         // level 0: every level
      {4, ~0ull, 0, {true, true, false}},        // event 3's level 5 is above the session's
      {5, 0x1, 0, {true, true, false}},          // keyword 0x6 shares no bit with any
      {5, 0x2, 0, {true, false, true}},
      {5, 0x2, 0x6, {true, false, true}},        // 0x6 holds every bit of all
      {5, 0x2, 0x8, {true, false, false}},       // but not 0x8
      {1, ~0ull, 0, {false, false, false}},
  };
  for (const auto& c : cases) {
    provider.OnEnable(true, c.level, c.any, c.all);
    EXPECT_TRUE(provider.Enabled());
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(provider.EventEnabled(i), c.expected[i]) << int(c.level) << " " << c.any << " " << c.all << " " << i;
    }
  }
  EXPECT_FALSE(provider.EventEnabled(3));
  provider.OnEnable(false, 5, ~0ull, 0);
  EXPECT_FALSE(provider.Enabled());
  EXPECT_EQ(provider.Level(), 0);
  EXPECT_EQ(provider.AnyKeyword(), 0u);
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(provider.EventEnabled(i));
}

TEST(TraceProviderTest, ThreadNameEventFollowsItsSession) {
  TraceProvider& provider = ThreadNameProvider();
  ASSERT_EQ(provider.Events().size(), 1u);
  EXPECT_EQ(provider.Events()[0].id, 103);
  EXPECT_EQ(provider.Events()[0].task, 2);
  EXPECT_EQ(provider.Events()[0].opcode, 14);
  EXPECT_FALSE(provider.Registered());  // registered when a plugin loads
  EXPECT_FALSE(WriteThreadName("worker"));
  provider.OnEnable(true, 0, 0x1, 0);
  EXPECT_TRUE(WriteThreadName(nullptr));
  provider.OnEnable(true, 0, 0x2, 0);
  EXPECT_FALSE(WriteThreadName("worker"));
  provider.OnEnable(false, 0, 0, 0);
}

// In a child process: registration is once per process.
TEST(TraceProviderTest, LoadingRegistersTheProvidersWithTheTracingService) {
  test::ChildResult child = test::RunInChild([] {
    TraceProvider& provider = ThreadNameProvider();
    if (provider.Registered()) return 1;
    RegisterTraceProviders();
    // Registered through Advapi32 where the service exists (Windows, Wine).
    if (provider.Registered() != port::TraceServiceAvailable()) return 2;
    RegisterTraceProviders();  // a second load registers nothing more
    if (provider.Registered() != port::TraceServiceAvailable()) return 3;
    provider.OnEnable(true, 0, 0x1, 0);
    uint32_t threadId = port::CurrentThreadId();
    const port::TraceField fields[] = {{&threadId, sizeof threadId}, {"Main thread", 12}};
    // Written (accepted by the service) exactly when registered.
    if (provider.Write(0, fields, 2) != provider.Registered()) return 4;
    if (!WriteThreadName("Main thread")) return 5;
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

}  // namespace
}  // namespace qmx
