// No credential reaches a log line: the demo session with the plugin linked
// into the test process, so that its logger can be opened all the way (the
// shared object's logger is out of the host's reach).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "demo_session.h"
#include "entitlements/entitlements_plugin.h"
#include "logging/logger.h"
#include "plugin/plugin_entry.h"
#include "plugin_module.h"
#include "support/child_process.h"

namespace qmx::host {
namespace {

void LoadInProcess(PluginLoadRecord* record) { LoadPlugin(record, &EntitlementsPlugin::Create); }

TEST(CredentialsTest, NoTokenReachesAnyLogLineAtTheLowestLevelWithEveryCategoryUnmuted) {
  test::ChildResult child = test::RunInChild([] {
    AcquireLogger();  // the levels belong to a logger, which must exist first
    SetMinLevel(0);
    SetMutedCategories(0);
    // The plugin's log target takes the logger's level when it initialises.
    if (GetMinLevel() != 0 || GetMutedCategories() != 0) return 11;
    std::unique_ptr<PluginModule> plugin = PluginModule::FromFunction(&LoadInProcess, "in-process plugin");
    DemoOptions options;
    options.plugin = plugin.get();
    options.accessToken = "alice:credential-capture-5be1d2";
    std::string logged;
    int lines = 0;
    options.onLog = [&](int32_t, const std::string& line) {
      logged += line + "\n";
      ++lines;
    };
    std::ostringstream transcript;
    DemoResult result = RunDemo(options, transcript);
    // The transcript and the plugin's log lines go to standard output, so the
    // parent can search them together with whatever reached standard error.
    std::fputs(transcript.str().c_str(), stdout);
    std::fputs(logged.c_str(), stdout);
    std::printf("log lines: %d\nissued:", lines);
    for (const std::string& token : result.issuedTokens) std::printf(" %zu", token.size());
    std::printf("\n");
    if (lines == 0) return 12;  // the open logger must have said something
    for (const std::string& token : result.issuedTokens) {
      if (logged.find(token) != std::string::npos || transcript.str().find(token) != std::string::npos) return 13;
      // The claims segment alone is as telling as the whole token.
      std::string claims = token.substr(token.find('.') + 1);
      claims = claims.substr(0, claims.find('.'));
      if (logged.find(claims) != std::string::npos) return 14;
    }
    if (result.issuedTokens.size() != 4) return 15;
    ReleaseLogger();
    return result.exitCode == 0 ? 0 : 10;
  });
  ASSERT_EQ(child.exitCode, 0) << child.out << child.err;
  std::string everything = child.out + child.err;
  EXPECT_EQ(everything.find("credential-capture-5be1d2"), std::string::npos) << everything;
}

}  // namespace
}  // namespace qmx::host
