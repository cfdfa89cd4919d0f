// RetryPolicy: when the entitlements plugin fetches again after a failed
// fetch. Each failure gives a new delay and the deadline that goes with it (the
// clock's time of the failure plus the delay); a success puts the delay back
// to the initial one and leaves the deadline where it was. The rule that
// draws the delays, and the initial and largest delay, are in
// retry_policy.cc: a new rule changes that file and its test.
//
// The clock (monotonic nanoseconds) and the generator's seed come from the
// caller, so the arithmetic runs with any time and any seed. The object holds
// no lock; its owner calls it from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <random>

namespace qmx {

class RetryPolicy {
 public:
  // Monotonic time in nanoseconds.
  using Clock = std::function<int64_t()>;

  // The steady clock and a generator seeded from a non-deterministic source.
  RetryPolicy();
  // clock must be callable for the life of the policy. The generator takes
  // seed as std::minstd_rand does (a seed that is 0 modulo 2^31-1 gives 1).
  RetryPolicy(Clock clock, uint32_t seed);

  // After a failed fetch: the next delay (returned, in milliseconds) and the
  // deadline that goes with it.
  int64_t Backoff();
  // After a successful fetch: the next failure starts again from the
  // initial delay. The deadline is not touched.
  void Reset();
  // Whether the clock has reached the deadline.
  bool Due() const { return clock_() >= nextRetryTime_; }

  int64_t RetryDelay() const { return retryDelay_; }        // milliseconds
  int64_t NextRetryTime() const { return nextRetryTime_; }  // clock nanoseconds
  int64_t InitialRetryDelay() const { return initialRetryDelay_; }
  int64_t MaxRetryDelay() const { return maxRetryDelay_; }

 private:
  Clock clock_;
  std::minstd_rand rng_;
  int64_t initialRetryDelay_;  // milliseconds
  int64_t maxRetryDelay_;      // milliseconds
  int64_t retryDelay_;         // milliseconds
  int64_t nextRetryTime_ = 0;  // clock nanoseconds
};

}  // namespace qmx
