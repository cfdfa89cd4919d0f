// What the reference host and the demo service do differently on each
// platform beyond the port layer: the plugin's file name, and the console's
// requests to stop (host_platform_posix.cc, host_platform_win32.cc).
#pragma once

namespace qmx::host {

// "qmx-be-entitlements.so", or "qmx-be-entitlements.dll" on Windows.
const char* PluginFileName();

// How the user asked a console program to stop.
enum class StopRequest {
  kInterrupted,  // SIGINT; Ctrl+C or Ctrl+Break
  kTerminated,   // SIGTERM; the console window closed, log-off or shutdown
};

// Call first in main, before any thread starts: from then on a stop request
// does not end the process but wakes WaitForStop. On Windows a closed console
// window keeps the process alive until main returns, so that the plugin's
// Shutdown still runs.
void CatchStopRequests();

// Blocks the calling thread until a stop request arrives.
StopRequest WaitForStop();

// "interrupted" or "terminated".
inline const char* StopRequestName(StopRequest request) {
  return request == StopRequest::kInterrupted ? "interrupted" : "terminated";
}

}  // namespace qmx::host
