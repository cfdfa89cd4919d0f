#include "plugin/timer_table.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"
#include "messages/message_format.h"

namespace qmx {

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TimerTable::TimerTable(HostOperations& host, std::string shortName)
    : host_(host), shortName_(std::move(shortName)) {}

TimerTable::~TimerTable() = default;

void TimerTable::AddTimer(const std::string& name, double seconds, std::function<void()> callback) {
  Timer& timer = timers_[name];
  timer.callback = std::move(callback);
  timer.interval = seconds;
  // Generations come from one counter for the whole plugin, not from the
  // entry: a removed timer's entry is gone, and a schedule of it still with
  // the host must not match the same name added again.
  uint64_t generation = ++lastTimerGeneration_;
  timer.generation = generation;
  timer.due = SteadyNanoseconds() + static_cast<int64_t>(seconds * 1e9);
  Arm(name, generation, timer.due);
}

void TimerTable::RemoveTimer(const std::string& name) { timers_.erase(name); }

void TimerTable::Arm(const std::string& name, uint64_t generation, int64_t due) {
  ScheduleHostCallback(FormatMessage("Timer: %1", name),
                       [this, name, generation] { FireTimer(name, generation); }, due);
}

void TimerTable::FireTimer(const std::string& name, uint64_t generation) {
  auto found = timers_.find(name);
  if (found == timers_.end()) {
    Log(kLogWarn, kCategoryDbg | kCategoryNet, "%s: Couldn't find timer named %s", shortName_.c_str(),
        name.c_str());
    return;
  }
  if (found->second.generation != generation) return;
  // The period runs from the start of one firing to the start of the next.
  int64_t due = SteadyNanoseconds() + static_cast<int64_t>(found->second.interval * 1e9);
  std::function<void()> callback = found->second.callback;  // the callback may remove its timer
  callback();
  found = timers_.find(name);
  if (found != timers_.end() && found->second.generation == generation) {
    found->second.due = due;
    Arm(name, generation, due);
  }
}

void TimerTable::ScheduleHostCallback(const std::string& label, std::function<void()> callable, int64_t due) {
  double delay = static_cast<double>(due - SteadyNanoseconds()) * 1e-9;
  if (!(delay > 0)) delay = 0;
  ScheduledCall* entry;
  {
    std::lock_guard<std::mutex> lock(scheduledLock_);
    uint64_t id = nextScheduledId_++;
    auto call = std::make_unique<ScheduledCall>(ScheduledCall{this, id, std::move(callable)});
    entry = call.get();
    scheduledCallbacks_[id] = std::move(call);
  }
  host_.ScheduleCallback(label.c_str(), &TimerTable::OnHostTimer, entry, delay, 0);
}

void TimerTable::OnHostTimer(void* context) {
  if (context == nullptr) return;
  auto* entry = static_cast<ScheduledCall*>(context);
  TimerTable* owner = entry->owner;
  uint64_t id = entry->id;
  try {
    entry->callable();
  } catch (const std::exception&) {
    // Nothing escapes into the host.
  }
  std::lock_guard<std::mutex> lock(owner->scheduledLock_);
  owner->scheduledCallbacks_.erase(id);
}

std::vector<uint64_t> TimerTable::OutstandingScheduledCallIds() {
  std::lock_guard<std::mutex> lock(scheduledLock_);
  std::vector<uint64_t> ids;
  for (const auto& entry : scheduledCallbacks_) ids.push_back(entry.first);
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace qmx
