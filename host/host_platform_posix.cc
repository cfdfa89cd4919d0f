#include <pthread.h>
#include <signal.h>

#include "host_platform.h"

namespace qmx::host {
namespace {

// SIGINT and SIGTERM are blocked in every thread and taken by sigwait.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

const char* PluginFileName() { return "qmx-be-entitlements.so"; }

void CatchStopRequests() {
  // Blocked before any thread starts, so that every thread inherits the mask.
  sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequest WaitForStop() {
  sigset_t signals = StopSignals();
  int signal = 0;
  sigwait(&signals, &signal);
  return signal == SIGINT ? StopRequest::kInterrupted : StopRequest::kTerminated;
}

}  // namespace qmx::host
