// The host's one plugin thread: every call into the plugin (event deliveries,
// timer callbacks, endpoint calls, Initialize and Shutdown) runs on it, so no
// two calls into the plugin ever overlap.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <queue>
#include <thread>
#include <type_traits>
#include <vector>

namespace qmx::host {

class WorkQueue {
 public:
  using Clock = std::chrono::steady_clock;
  using Task = std::function<void()>;

  WorkQueue();
  ~WorkQueue();  // stops the thread; tasks still queued are dropped
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // Runs task on the plugin thread as soon as the tasks before it have run.
  void Post(Task task);
  // Runs task on the plugin thread once the steady clock reaches due; tasks
  // with the same due time run in the order they were posted.
  void PostAt(Clock::time_point due, Task task);

  // Runs f on the plugin thread and waits for its result. Called on the plugin
  // thread itself, it runs f at once.
  template <typename F>
  auto Call(F f) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    if (OnPluginThread()) return f();
    std::packaged_task<R()> task(std::move(f));
    std::future<R> result = task.get_future();
    Post([&task] { task(); });
    return result.get();
  }

  // Waits until every task that is due now has run (tasks they post that are
  // due at once included).
  void Drain();

  // The number of timed tasks still waiting for their time.
  size_t PendingTimers() const;

  bool OnPluginThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Entry {
    Clock::time_point due;
    uint64_t sequence;
    Task task;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };

  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::priority_queue<Entry, std::vector<Entry>, Later> entries_;
  uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qmx::host
