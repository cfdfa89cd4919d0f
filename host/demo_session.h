// The demo: a whole session of the entitlements plugin against the demo
// service, with a readable transcript and a check at every step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "plugin_module.h"

namespace qmx::host {

struct DemoOptions {
  std::string pluginPath;           // the shared object to load...
  PluginModule* plugin = nullptr;   // ...or a plugin already opened (tests)
  uint32_t major = 18, minor = 0, patch = 0;  // the plugin-interface version the host announces
  // The signed-in user's access token; empty picks "alice:" and random digits.
  std::string accessToken;
  double externalTimeoutSeconds = 10;
  // Every log line the plugin writes, besides the transcript (tests).
  std::function<void(int32_t level, const std::string& line)> onLog;
  // Set from a signal handler: the demo stops at the next step.
  const std::atomic<bool>* interrupted = nullptr;
};

struct DemoResult {
  int exitCode = 1;  // 0 when every check held
  int checks = 0;
  int failures = 0;
  std::vector<std::string> issuedTokens;  // what the service handed out
  std::string accessToken;
};

DemoResult RunDemo(const DemoOptions& options, std::ostream& out);

}  // namespace qmx::host
