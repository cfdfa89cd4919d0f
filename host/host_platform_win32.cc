#include <windows.h>

#include <atomic>

#include "host_platform.h"

namespace qmx::host {
namespace {

// Set by the console's handler thread, waited for by WaitForStop. The event
// is manual-reset: once a stop is asked for, every later wait returns at once.
HANDLE stopEvent = nullptr;
std::atomic<StopRequest> request{StopRequest::kInterrupted};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  request = interrupt ? StopRequest::kInterrupted : StopRequest::kTerminated;
  SetEvent(stopEvent);
  // For a closed window, log-off or shutdown the system ends the process as
  // soon as this handler returns: wait here until main has shut the plugin
  // down and returned, which ends the process (and this thread) itself.
  if (!interrupt) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

const char* PluginFileName() { return "qmx-be-entitlements.dll"; }

void CatchStopRequests() {
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

StopRequest WaitForStop() {
  WaitForSingleObject(stopEvent, INFINITE);
  return request.load();
}

}  // namespace qmx::host
