// The backoff arithmetic of failed token fetches, on a clock the test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "entitlements/retry_policy.h"

namespace qmx {
namespace {

constexpr int64_t kMs = 1000000;

// The first delay drawn from the initial one, the deadline left as it was.
int64_t DrawFirstDelay(RetryPolicy& policy) {
  policy.Reset();
  return policy.Backoff();
}

TEST(RetryPolicyTest, StartsAtTheInitialDelayWithNoDeadline) {
  int64_t now = 0;
  RetryPolicy policy([&now] { return now; }, 1);
  EXPECT_EQ(policy.RetryDelay(), 100);
  EXPECT_EQ(policy.InitialRetryDelay(), 100);
  EXPECT_EQ(policy.MaxRetryDelay(), 60000);
  EXPECT_EQ(policy.NextRetryTime(), 0);
  EXPECT_TRUE(policy.Due());
  now = -1;
  EXPECT_FALSE(policy.Due());
}

// The deadline is the clock at the failure plus the delay; it is due from that
// nanosecond on, and a reset moves the delay back but not the deadline.
TEST(RetryPolicyTest, DeadlineFollowsTheClockOfTheFailure) {
  int64_t now = 5000 * kMs;
  RetryPolicy policy([&now] { return now; }, 777);
  const int64_t delay = policy.Backoff();
  EXPECT_EQ(policy.RetryDelay(), delay);
  const int64_t deadline = 5000 * kMs + delay * kMs;
  EXPECT_EQ(policy.NextRetryTime(), deadline);
  now = deadline - 1;
  EXPECT_FALSE(policy.Due());
  now = deadline;
  EXPECT_TRUE(policy.Due());
  now = deadline + 1;
  EXPECT_TRUE(policy.Due());

  policy.Reset();
  EXPECT_EQ(policy.RetryDelay(), 100);
  EXPECT_EQ(policy.NextRetryTime(), deadline);
  now = 9000 * kMs;
  const int64_t next = policy.Backoff();
  EXPECT_GE(next, 750);
  EXPECT_LE(next, 1250);
  EXPECT_EQ(policy.NextRetryTime(), 9000 * kMs + next * kMs);
}

// Equal seeds draw equal delays, whatever the clock says.
TEST(RetryPolicyTest, OneSeedGivesOneSequence) {
  int64_t early = 0;
  int64_t late = 123456789 * kMs;
  RetryPolicy first([&early] { return early; }, 424242);
  RetryPolicy second([&late] { return late; }, 424242);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(first.Backoff(), second.Backoff()) << i;
}

// The jitter of one delay is multiplied into the next: the second delay is
// ten times the first +-25 %, so it lies anywhere in 5625..15625 ms, not
// only in ten times the first one's range; the third is capped at 60 s from
// 42188 ms up, the fourth is always the cap. Checked for many seeds.
TEST(RetryPolicyTest, RetryDelaysFollowTheRuleForEverySeed) {
  int64_t lowest[4] = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
  int64_t highest[4] = {0, 0, 0, 0};
  // Seeds drawn at random: the policy's generator gives small first numbers
  // for small seeds, so counting seeds up would cover only part of the range.
  std::mt19937 seeds(2027);
  for (int round = 0; round < 20000; ++round) {
    const uint32_t seed = static_cast<uint32_t>(seeds());
    RetryPolicy policy([] { return int64_t{0}; }, seed);
    int64_t delays[4] = {policy.Backoff()};
    for (int i = 1; i < 4; ++i) delays[i] = policy.Backoff();
    ASSERT_GE(delays[0], 750) << seed;
    ASSERT_LE(delays[0], 1250) << seed;
    for (int i = 1; i < 4; ++i) {
      const int64_t tenfold = 10 * delays[i - 1];
      ASSERT_GE(delays[i], std::min<int64_t>(tenfold - tenfold / 4, 60000)) << seed << " " << i;
      ASSERT_LE(delays[i], std::min<int64_t>(tenfold + tenfold / 4, 60000)) << seed << " " << i;
    }
    for (int i = 0; i < 4; ++i) {
      lowest[i] = std::min(lowest[i], delays[i]);
      highest[i] = std::max(highest[i], delays[i]);
    }
  }
  // The second delay leaves ten times the first one's range on both sides.
  EXPECT_GE(lowest[1], 5625);
  EXPECT_LT(lowest[1], 7500);
  EXPECT_GT(highest[1], 12500);
  EXPECT_LE(highest[1], 15625);
  EXPECT_GE(lowest[2], 42188);
  EXPECT_LT(lowest[2], 48000);
  EXPECT_EQ(highest[2], 60000);
  EXPECT_EQ(lowest[3], 60000);
  EXPECT_EQ(highest[3], 60000);
}

TEST(RetryPolicyTest, FirstRetryDelaysCoverTheJitterRange) {
  RetryPolicy policy([] { return int64_t{0}; }, 12345);
  std::vector<int> hits(501);
  for (int i = 0; i < 20000; ++i) {
    int64_t delay = DrawFirstDelay(policy);
    ASSERT_GE(delay, 750);
    ASSERT_LE(delay, 1250);
    ++hits[delay - 750];
  }
  EXPECT_EQ(std::count(hits.begin(), hits.end(), 0), 0);
}

}  // namespace
}  // namespace qmx
