// AtScopeExit: runs an action when the scope ends, however it ends.
#pragma once

#include <utility>

namespace qmx {

// The action runs once, from the destructor, on a normal exit and while an
// exception unwinds alike; it must not throw.
template <typename Action>
class AtScopeExit {
 public:
  explicit AtScopeExit(Action action) : action_(std::move(action)) {}
  ~AtScopeExit() { action_(); }
  AtScopeExit(const AtScopeExit&) = delete;
  AtScopeExit& operator=(const AtScopeExit&) = delete;

 private:
  Action action_;
};

}  // namespace qmx
