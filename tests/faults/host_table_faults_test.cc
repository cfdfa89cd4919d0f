// A host table with missing pieces: a null handle, a handle without a table,
// a table whose slots are all null. The plugin starts without calling
// anything it was not given, answers its endpoint and shuts down cleanly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/api_descriptor.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

void RunIncompleteTables(LoadEntitlementsFn load, Findings& findings) {
  static HostApi emptyTable{};
  static HostHandle withoutTable{nullptr, 7};
  static HostHandle withEmptyTable{&emptyTable, 7};
  const struct {
    const char* name;
    HostHandle* handle;
  } cases[] = {{"null handle", nullptr},
               {"handle without a table", &withoutTable},
               {"table of null slots", &withEmptyTable}};
  for (const auto& c : cases) {
    findings.SetContext(c.name);
    unsigned long long level = 0;
    for (int round = 0; round < 2; ++round) {
      PluginLoadRecord record{};
      record.major = 18;
      load(&record);
      if (record.context == nullptr) {
        findings.Check(false, "loads");
        continue;
      }
      auto getStats = record.callbacks->GetMemoryStats;
      findings.Check(record.callbacks->Initialize(record.context, c.handle), "Initialize succeeds");
      const auto* entry = static_cast<const ApiFunctionEntry*>(record.descriptor->functions);
      HostRequest request = PluginHarness::GetRequest();
      request.functionContext = entry->context;
      HostResponse response{};
      entry->entry(&response, &request);
      findings.Check(response.error != nullptr && response.status == 404, "answers not ready");
      if (response.release != nullptr) response.release(&response);
      record.callbacks->Shutdown(record.context);
      MemoryStats stats{};
      getStats(nullptr, &stats);
      // The first round may leave what the process keeps once; the second
      // must return to that.
      unsigned long long inUse = stats.bytesAllocated - stats.bytesReleased;
      if (round == 0) level = inUse;
      findings.Check(inUse == level, "bytes in use return to their level");
    }
  }
  findings.SetContext("");
}

class HostTableFaultsTest : public PluginLoadTest {};

TEST_P(HostTableFaultsTest, IncompleteHostTables) { ExpectNoFindings(&RunIncompleteTables); }

INSTANTIATE_TEST_SUITE_P(, HostTableFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
