// TimerTable: named periodic timers driven by one-shot deferred calls of the
// host, each firing scheduling the next.
//
// Every AddTimer gives its timer a new generation; a schedule carries the
// generation it was made for, so a superseded schedule runs once more and does
// nothing, and one whose timer was removed writes a warning line.
//
// Thread safety: only the table of scheduled calls is locked (its own mutex,
// never held while a callable runs). The timers themselves are not: AddTimer,
// RemoveTimer and firings must not overlap. Callbacks may add or remove
// timers, their own included.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugin/host_operations.h"

namespace qmx {

// Monotonic clock in nanoseconds.
int64_t SteadyNanoseconds();

class TimerTable {
 public:
  // host schedules the calls; it must outlive the table. shortName prefixes
  // the warning line.
  TimerTable(HostOperations& host, std::string shortName);
  ~TimerTable();
  TimerTable(const TimerTable&) = delete;
  TimerTable& operator=(const TimerTable&) = delete;

  // Creates or re-arms the timer name: callback runs every seconds, the first
  // time seconds from now.
  void AddTimer(const std::string& name, double seconds, std::function<void()> callback);
  // Removes the timer; calls already scheduled with the host are not
  // withdrawn and find no timer when they run.
  void RemoveTimer(const std::string& name);
  bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }
  // Removes every timer (Shutdown); scheduled calls stay, as for RemoveTimer.
  void Clear() { timers_.clear(); }

  // One deferred call through the host, due at the monotonic time due (ns);
  // a time already passed asks for delay 0.
  void ScheduleHostCallback(const std::string& label, std::function<void()> callable, int64_t due);

  // The ids of the scheduled calls the host has not run yet, ascending. Ids
  // start at 1 and never repeat.
  std::vector<uint64_t> OutstandingScheduledCallIds();

 private:
  struct Timer {
    std::function<void()> callback;
    double interval = 0;
    uint64_t generation = 0;
    int64_t due = 0;
  };
  struct ScheduledCall {
    TimerTable* owner;
    uint64_t id;
    std::function<void()> callable;
  };

  // The host's callback: context is the ScheduledCall.
  static void OnHostTimer(void* context);
  void FireTimer(const std::string& name, uint64_t generation);
  void Arm(const std::string& name, uint64_t generation, int64_t due);

  HostOperations& host_;
  std::string shortName_;
  std::unordered_map<std::string, Timer> timers_;
  uint64_t lastTimerGeneration_ = 0;  // the generation of the latest AddTimer
  std::unordered_map<uint64_t, std::unique_ptr<ScheduledCall>> scheduledCallbacks_;
  uint64_t nextScheduledId_ = 1;
  std::mutex scheduledLock_;
};

}  // namespace qmx
