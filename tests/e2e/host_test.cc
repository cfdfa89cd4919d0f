// The reference host with the real shared object of this build and the demo
// entitlements service over loopback. Each case runs in a process of its own,
// which loads its own plugin.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "demo_service.h"
#include "demo_session.h"
#include "plugin_module.h"
#include "reference_host.h"
#include "serialization/yaml.h"
#include "support/child_process.h"
#include "support/paths.h"

namespace qmx::host {
namespace {

constexpr const char* kAccessTokenPath = "/kwe-auth/v1/authorization/access-token";
constexpr const char* kTokenPath = "/entitlements/v1/token";

// The plugin of this build, or null (with the reason on standard error).
std::unique_ptr<PluginModule> OpenPlugin() {
  Result<std::unique_ptr<PluginModule>, std::string> opened = PluginModule::Open(test::PluginPath());
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.error().c_str());
    return nullptr;
  }
  return std::move(opened).value();
}

// Points "globals" and "region_data" of host at a token URL.
void SeedRegion(ReferenceHost& host, const std::string& tokenUrl) {
  Value globals;
  globals.Member("region").SetString("eu");
  host.Seed("/data-store/v1/install-settings/globals", globals);
  Value regions;
  regions.Member("eu").Member("servers").Member("entitlements").Member("entitlements_url").SetString(tokenUrl);
  host.Seed("/data-store/v1/system-settings/region_data", regions);
}

// A host with the plugin running, its settings pointing at a demo service.
struct Live {
  DemoService service;
  std::unique_ptr<PluginModule> plugin;
  std::unique_ptr<ReferenceHost> host;
  std::vector<ExternalCallRecord> externals;  // written on the plugin thread
  std::vector<std::string> logLines;

  // Returns "" on success, otherwise what went wrong.
  std::string Start(double timeoutSeconds) {
    if (Result<void, std::string> listening = service.Start("127.0.0.1", 0); !listening) {
      return listening.error();
    }
    plugin = OpenPlugin();
    if (plugin == nullptr) return "the plugin does not open";
    ReferenceHost::Options options;
    options.externalTimeoutSeconds = timeoutSeconds;
    host = std::make_unique<ReferenceHost>(options);
    host->onExternalCall = [this](const ExternalCallRecord& call) { externals.push_back(call); };
    host->onLog = [this](int32_t, const std::string& line) { logLines.push_back(line); };
    ValueResult config = ReadYaml(
        "install-settings:\n  globals: {region: eu}\n"
        "system-settings:\n  region_data:\n    eu: {servers: {entitlements: {entitlements_url: \"" +
        service.TokenUrl() + "\"}}}\n");
    if (!config.Ok()) return std::string(config.ErrorText());
    if (Result<void, std::string> seeded = host->SeedFromConfig(config.value()); !seeded) {
      return seeded.error();
    }
    if (Result<void, std::string> started = host->Start(*plugin, 18, 0, 0); !started) {
      return started.error();
    }
    return "";
  }
  void SignIn(const char* accessToken) {
    Value token;
    token.Member("token").SetString(accessToken);
    host->Put(kAccessTokenPath, token);
    host->Settle();
  }
  void SignOut() {
    host->Delete(kAccessTokenPath);
    host->Settle();
  }
  uint64_t InUse() {
    MemoryStats stats = host->Memory();
    return stats.bytesAllocated - stats.bytesReleased;
  }
};

// Waits on the plugin thread's progress for at most seconds.
template <typename Predicate>
bool Eventually(ReferenceHost& host, double seconds, Predicate done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    host.Settle();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

#define CHILD_EXPECT(condition, code)                                      \
  do {                                                                     \
    if (!(condition)) {                                                    \
      std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      return code;                                                         \
    }                                                                      \
  } while (0)

TEST(EndToEndTest, TheDemoSessionPassesAndShowsNoCredential) {
  test::ChildResult child = test::RunInChild([] {
    DemoOptions options;
    options.pluginPath = test::PluginPath();
    options.accessToken = "alice:e2e-access-token-7f3a9c";
    std::vector<std::string> logLines;
    options.onLog = [&](int32_t, const std::string& line) { logLines.push_back(line); };
    std::ostringstream transcript;
    DemoResult result = RunDemo(options, transcript);
    std::fputs(transcript.str().c_str(), stdout);
    CHILD_EXPECT(result.exitCode == 0, 10);
    CHILD_EXPECT(result.issuedTokens.size() == 4, 11);  // sign-in, recovery, notification, region
    std::string everything = transcript.str();
    for (const std::string& line : logLines) everything += line + "\n";
    CHILD_EXPECT(everything.find(options.accessToken) == std::string::npos, 12);
    for (const std::string& token : result.issuedTokens) {
      CHILD_EXPECT(everything.find(token) == std::string::npos, 13);
      std::string claims = token.substr(token.find('.') + 1);
      CHILD_EXPECT(everything.find(claims.substr(0, claims.find('.'))) == std::string::npos, 14);
    }
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  EXPECT_NE(child.out.find("demo passed"), std::string::npos) << child.out;
}

TEST(EndToEndTest, APluginRefusesHostsOfAnotherMajorOrAnOlderMinor) {
  test::ChildResult child = test::RunInChild([] {
    std::unique_ptr<PluginModule> plugin = OpenPlugin();
    CHILD_EXPECT(plugin != nullptr, 10);
    ReferenceHost host;
    host.onLog = [](int32_t, const std::string&) {};
    Result<void, std::string> older = host.Start(*plugin, 17, 9, 9);
    CHILD_EXPECT(!older.Ok(), 11);
    CHILD_EXPECT(older.error() == "the plugin refused host version 17.9.9", 12);
    CHILD_EXPECT(!host.Running() && !plugin->Loaded(), 13);
    CHILD_EXPECT(!host.Start(*plugin, 19, 0, 0).Ok(), 14);
    // A later minor of the same major is compatible.
    CHILD_EXPECT(host.Start(*plugin, 18, 4, 2).Ok(), 15);
    CHILD_EXPECT(host.Get(kTokenPath).status == 404, 16);
    host.Stop();
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
  // The refusal is reported by the plugin itself, on standard error.
  EXPECT_NE(child.err.find("Assertion failed!"), std::string::npos) << child.err;
}

TEST(EndToEndTest, AServiceThatNeverAnswersTimesOutAndTheFetchIsRetried) {
  test::ChildResult child = test::RunInChild([] {
    Live live;
    std::string problem = live.Start(0.5);
    if (!problem.empty()) {
      std::fprintf(stderr, "%s\n", problem.c_str());
      return 10;
    }
    live.service.HangNext(1, 30);
    live.SignIn("carol:never-answered");
    // The host gave up after its timeout; the plugin has no token yet.
    CHILD_EXPECT(live.externals.size() == 1, 11);
    CHILD_EXPECT(live.externals[0].result == 2, 12);  // timed out
    CHILD_EXPECT(live.host->Get(kTokenPath).status == 404, 13);
    // The retry, about a second later, reaches the service again.
    CHILD_EXPECT(Eventually(*live.host, 10, [&] { return live.host->Get(kTokenPath).Ok(); }), 14);
    CHILD_EXPECT(live.externals.size() == 2 && live.externals[1].status == 200, 15);
    CHILD_EXPECT(live.host->Get(kTokenPath).body.FindMember("subject").GetString() == "carol", 16);
    for (const std::string& line : live.logLines)
      CHILD_EXPECT(line.find("never-answered") == std::string::npos, 17);
    live.host->Stop();
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

TEST(EndToEndTest, MemoryInUseReturnsToItsLevelAfterShutdown) {
  test::ChildResult child = test::RunInChild([] {
    std::unique_ptr<PluginModule> plugin = OpenPlugin();
    CHILD_EXPECT(plugin != nullptr, 10);
    DemoService service;
    CHILD_EXPECT(service.Start("127.0.0.1", 0).Ok(), 11);
    // The first session creates what the process keeps once (the C++
    // runtime's own buffers, for example); every later one returns all it
    // takes.
    uint64_t levels[3] = {};
    for (uint64_t& level : levels) {
      ReferenceHost host;
      SeedRegion(host, service.TokenUrl());
      CHILD_EXPECT(host.Start(*plugin, 18, 0, 0).Ok(), 12);
      for (int round = 0; round < 5; ++round) {
        Value token;
        token.Member("token").SetString("dave:round-" + std::to_string(round));
        host.Put(kAccessTokenPath, token);
        host.Settle();
        CHILD_EXPECT(host.Get(kTokenPath).Ok(), 13);
        host.Delete(kAccessTokenPath);
        host.Settle();
      }
      host.Stop();
      MemoryStats stats = plugin->Memory();
      level = stats.bytesAllocated - stats.bytesReleased;
    }
    if (levels[1] != levels[0] || levels[2] != levels[0]) {
      std::fprintf(stderr, "in use after each session: %llu %llu %llu\n", (unsigned long long)levels[0],
                   (unsigned long long)levels[1], (unsigned long long)levels[2]);
      return 14;
    }
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

}  // namespace
}  // namespace qmx::host
