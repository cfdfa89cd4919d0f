// Loads the real shared object (dlopen, LoadLibrary), each case in a process
// of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "interface/api_descriptor.h"
#include "interface/host_api.h"
#include "port/library.h"
#include "support/child_process.h"
#include "support/paths.h"
#include "support/test_host.h"
#include "support/token_endpoint.h"

namespace qmx {
namespace {

// The library stays loaded until the child process ends.
struct Loaded {
  port::Library* library = nullptr;
  LoadEntitlementsFn load = nullptr;
};

Loaded Open() {
  Loaded loaded;
  loaded.library = new port::Library(test::PluginPath());
  if (loaded.library->Loaded()) {
    loaded.load = reinterpret_cast<LoadEntitlementsFn>(loaded.library->Symbol("load_entitlements"));
  }
  return loaded;
}

// Exit codes of the child: 0 all checks held; others name the failed check.
int LoadAndCheck(uint32_t major, uint32_t minor, uint32_t patch, bool accepted) {
  Loaded loaded = Open();
  if (loaded.load == nullptr) return 10;
  PluginLoadRecord record{};
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  PluginLoadRecord untouched = record;
  loaded.load(&record);
  if (!accepted) return std::memcmp(&record, &untouched, sizeof record) == 0 ? 0 : 11;
  if (record.major != 18 || record.minor != 0 || record.patch != 0) return 12;
  if (record.callbacks == nullptr || record.context == nullptr) return 13;
  if (record.shortName == nullptr || std::strcmp(record.shortName, "entitlements") != 0) return 14;
  if (record.descriptor == nullptr) return 15;
  if (record.callbacks->Initialize == nullptr || record.callbacks->Shutdown == nullptr ||
      record.callbacks->GetMemoryStats == nullptr) {
    return 16;
  }
  record.callbacks->Shutdown(record.context);
  return 0;
}

TEST(LoadTest, AcceptsCompatibleHosts) {
  const uint32_t versions[][3] = {{18, 0, 0}, {18, 0, 7}, {18, 1, 0}, {18, 3, 0}};
  for (const auto& v : versions) {
    test::ChildResult child = test::RunInChild([&] { return LoadAndCheck(v[0], v[1], v[2], true); });
    EXPECT_EQ(child.exitCode, 0) << v[0] << "." << v[1] << "." << v[2] << ": " << child.err;
  }
}

TEST(LoadTest, RefusesIncompatibleHostsAndLeavesTheRecord) {
  const uint32_t versions[][3] = {{17, 9, 9}, {19, 0, 0}, {0, 0, 0}};
  for (const auto& v : versions) {
    test::ChildResult child = test::RunInChild([&] { return LoadAndCheck(v[0], v[1], v[2], false); });
    EXPECT_EQ(child.exitCode, 0) << child.err;
    std::string host = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
    EXPECT_NE(child.err.find("ALE-EECF0606"), std::string::npos) << child.err;
    EXPECT_NE(child.err.find("entitlements which supports plugin API 18.0.0 is not compatible "
                             "with core's plugin API " + host),
              std::string::npos)
        << child.err;
  }
}

TEST(LoadTest, RefusedHostWritesTheAssertionReport) {
  test::ChildResult child = test::RunInChild([] { return LoadAndCheck(19, 2, 3, false); });
  EXPECT_EQ(child.exitCode, 0) << child.err;
  // One ERROR line of the standard-error target: executable, thread, level,
  // report. On Windows the executable ends in ".exe", "%p" prints no 0x and
  // lines end in "\r\n".
  std::regex report(
      "export_tests(\\.exe)?\\((0x)?[0-9a-fA-F]+\\):  ERROR\\| Assertion failed!\n\n"
      "Expression: ALE-EECF0606\n\n"
      "Description: entitlements which supports plugin API 18\\.0\\.0 is not compatible with core's "
      "plugin API 19\\.2\\.3\n");
  std::string err = child.err;
  std::erase(err, '\r');
  EXPECT_TRUE(std::regex_match(err, report)) << child.err;
  EXPECT_EQ(child.out, "");
}

TEST(LoadTest, MemoryStatsCountThePluginsAllocationsOnly) {
  test::ChildResult child = test::RunInChild([] {
    Loaded loaded = Open();
    if (loaded.load == nullptr) return 10;
    PluginLoadRecord record{};
    record.major = 18;
    loaded.load(&record);
    if (record.context == nullptr) return 11;
    MemoryStats first{};
    record.callbacks->GetMemoryStats(record.context, &first);
    if (first.allocations == 0) return 12;  // the plugin object itself is counted
    if (first.peakBytes < first.bytesAllocated - first.bytesReleased) return 13;
    // Allocations of the loading program do not reach the plugin's counters.
    for (int i = 0; i < 100; ++i) {
      std::string* s = new std::string(1000, 'x');
      delete s;
      free(malloc(77));
    }
    MemoryStats second{};
    record.callbacks->GetMemoryStats(record.context, &second);
    if (second.allocations != first.allocations || second.bytesAllocated != first.bytesAllocated) return 14;
    // The callbacks table lives in the plugin object: keep the entry before it goes.
    auto getStats = record.callbacks->GetMemoryStats;
    record.callbacks->Shutdown(record.context);
    MemoryStats last{};
    getStats(nullptr, &last);
    if (last.releases <= first.releases) return 15;  // the object went back through the counters
    if (last.zero != 0) return 16;
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

TEST(LoadTest, ShutdownReturnsEveryByteOfARunningPlugin) {
  test::ChildResult child = test::RunInChild([] {
    Loaded loaded = Open();
    if (loaded.load == nullptr) return 10;
    // A first plugin creates what the process keeps once (for example the
    // C++ runtime's own buffers); a second one must return all it takes.
    unsigned long long baseline = 0;
    for (int round = 0; round < 2; ++round) {
      test::TestHost host;
      PluginLoadRecord record{};
      record.major = 18;
      loaded.load(&record);
      if (record.context == nullptr) return 11;
      auto getStats = record.callbacks->GetMemoryStats;
      if (!record.callbacks->Initialize(record.context, host.Handle())) return 12;
      record.callbacks->Shutdown(record.context);
      MemoryStats stats{};
      getStats(nullptr, &stats);
      unsigned long long inUse = stats.bytesAllocated - stats.bytesReleased;
      if (round == 0) {
        baseline = inUse;
      } else if (inUse != baseline) {
        std::fprintf(stderr, "in use after the first plugin %llu, after the second %llu\n", baseline, inUse);
        return 13;
      }
    }
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

TEST(LoadTest, TheTokenEndpointAnswersThroughItsDescriptorEntry) {
  test::ChildResult child = test::RunInChild([] {
    Loaded loaded = Open();
    if (loaded.load == nullptr) return 10;
    test::TestHost host;  // answers every request with an empty body: no access token yet
    PluginLoadRecord record{};
    record.major = 18;
    loaded.load(&record);
    if (record.context == nullptr || record.descriptor->functionCount == 0) return 11;
    if (!record.callbacks->Initialize(record.context, host.Handle())) return 12;
    const ApiFunctionEntry* entry = test::FindTokenEntry(record.descriptor);
    if (entry == nullptr) return 13;
    test::TokenCall call = test::CallTokenEntry(entry);
    uint32_t status = call.status;
    std::string error = call.error;
    record.callbacks->Shutdown(record.context);
    if (status != 404) return 14;
    if (error != "Entitlements token is not ready yet") {
      std::fprintf(stderr, "error text: %s\n", error.c_str());
      return 15;
    }
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

// Per-thread memory of the thread runtime (thread-local storage, the thread
// library's records) is not the plugin's: a host thread's first call must not
// move the counters.
TEST(LoadTest, AFirstCallFromANewThreadLeavesBytesInUseWhereTheyWere) {
  test::ChildResult child = test::RunInChild([] {
    Loaded loaded = Open();
    if (loaded.load == nullptr) return 10;
    test::TestHost host;
    PluginLoadRecord record{};
    record.major = 18;
    loaded.load(&record);
    if (record.context == nullptr) return 11;
    if (!record.callbacks->Initialize(record.context, host.Handle())) return 12;
    const auto* entry = static_cast<const ApiFunctionEntry*>(record.descriptor->functions);
    auto getStats = record.callbacks->GetMemoryStats;
    auto inUse = [&] {
      MemoryStats stats{};
      getStats(record.context, &stats);
      return static_cast<unsigned long long>(stats.bytesAllocated - stats.bytesReleased);
    };
    auto call = [&] { return test::CallTokenEntry(entry).status; };
    if (call() != 404) return 13;  // the first call ever creates what the process keeps
    unsigned long long before = inUse();
    if (call() != 404 || inUse() != before) return 14;
    int code = 0;
    std::thread worker([&] {
      unsigned long long onThread = inUse();
      if (call() != 404) code = 15;
      else if (inUse() != onThread) {
        std::fprintf(stderr, "bytes in use before the thread's first call %llu, after %llu\n", onThread, inUse());
        code = 16;
      }
    });
    worker.join();
    if (code != 0) return code;
    if (inUse() != before) return 17;
    record.callbacks->Shutdown(record.context);
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0) << child.err;
}

}  // namespace
}  // namespace qmx
