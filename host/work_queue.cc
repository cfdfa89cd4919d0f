#include "work_queue.h"

namespace qmx::host {

WorkQueue::WorkQueue() : thread_([this] { Run(); }) {}

WorkQueue::~WorkQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WorkQueue::Post(Task task) { PostAt(Clock::time_point::min(), std::move(task)); }

void WorkQueue::PostAt(Clock::time_point due, Task task) {
  {
    std::lock_guard lock(mutex_);
    entries_.push(Entry{due, sequence_++, std::move(task)});
  }
  wake_.notify_all();
}

void WorkQueue::Drain() {
  if (OnPluginThread()) return;  // the caller is itself a task: nothing can run now
  // Tasks run in due-time order, posting order breaking ties, so a marker due
  // now runs after every task that is due by now, including those posted by
  // other tasks while the marker waits (they are due at once).
  std::promise<void> reached;
  PostAt(Clock::now(), [&reached] { reached.set_value(); });
  reached.get_future().wait();
}

size_t WorkQueue::PendingTimers() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void WorkQueue::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopping_) return;
    if (entries_.empty()) {
      wake_.wait(lock);
      continue;
    }
    Clock::time_point due = entries_.top().due;
    if (due > Clock::now()) {
      wake_.wait_until(lock, due);
      continue;
    }
    Task task = std::move(const_cast<Entry&>(entries_.top()).task);
    entries_.pop();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace qmx::host
