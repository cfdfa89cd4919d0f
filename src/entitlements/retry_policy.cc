#include "entitlements/retry_policy.h"

#include <algorithm>
#include <utility>

#include "plugin/timer_table.h"

namespace qmx {
namespace {

// Each failure multiplies the delay by ten, moves it by a random amount of up
// to a quarter either way and caps it at the largest delay; from the initial
// 100 ms that gives about 1 s, 10 s, 42..60 s, then 60 s every time.
constexpr int64_t kInitialRetryDelay = 100;  // milliseconds
constexpr int64_t kMaxRetryDelay = 60000;    // milliseconds

// A generator state in 1 .. 2^31-2 from a non-deterministic source.
uint32_t RandomSeed() {
  std::random_device device;
  uint32_t state = static_cast<uint32_t>(device() % 2147483647u);
  return state == 0 ? 1 : state;
}

}  // namespace

RetryPolicy::RetryPolicy() : RetryPolicy(&SteadyNanoseconds, RandomSeed()) {}

RetryPolicy::RetryPolicy(Clock clock, uint32_t seed)
    : clock_(std::move(clock)),
      rng_(seed),
      initialRetryDelay_(kInitialRetryDelay),
      maxRetryDelay_(kMaxRetryDelay),
      retryDelay_(kInitialRetryDelay) {}

void RetryPolicy::Reset() { retryDelay_ = initialRetryDelay_; }

int64_t RetryPolicy::Backoff() {
  retryDelay_ *= 10;
  int64_t bound = retryDelay_ / 4;
  std::uniform_int_distribution<int64_t> jitter(-bound, bound);
  retryDelay_ = std::min(retryDelay_ + jitter(rng_), maxRetryDelay_);
  nextRetryTime_ = clock_() + retryDelay_ * 1000000;
  return retryDelay_;
}

}  // namespace qmx
