// A long run of the shipped shared object: a million calls of GET
// "/entitlements/v1/token" through its descriptor entry and a hundred
// thousand events of every kind the plugin subscribes to, with fetches that
// succeed, fail and come back unusable. Bytes in use, sampled whenever the
// plugin is back in the same state, must not move after the warm-up.
//
// The ASan build runs a tenth of the counts: every call there is instrumented
// and the run would otherwise take minutes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "interface/api_descriptor.h"
#include "support/plugin_harness.h"

namespace qmx::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kScale = 10;
#else
constexpr long kScale = 1;
#endif

constexpr long kCallsPerEvent = 10;
constexpr long kEventsPerCycle = 20;
struct SoakCounts {
  long events;
  long calls;
  long cyclesPerSample;  // cycles between two samples of bytes in use
};

// One call of the endpoint with its release; true when it answered the token
// (or, while no token is ready, the not-ready error).
bool CallOnce(const ApiFunctionEntry& entry, bool ready) {
  HostRequest request = PluginHarness::GetRequest();
  request.functionContext = entry.context;
  HostResponse response{};
  entry.entry(&response, &request);
  bool answered = ready ? response.error == nullptr && response.body.kind == HostValueStructure
                        : response.error != nullptr && response.status == 404;
  if (response.release != nullptr) response.release(&response);
  return answered;
}

// Runs every pending host callback; the retry timer is gone at the end of a
// cycle, so its ticks stop rescheduling and the queue drains.
void Drain(PluginHarness& harness) {
  for (int i = 0; i < 1000 && harness.host.RunNextScheduled(); ++i) {
  }
}

// One cycle of kEventsPerCycle events. The plugin ends it in the state it
// began with: token served from the EU URL, no retry timer.
void Cycle(PluginHarness& harness, const ApiFunctionEntry& entry, const std::string& good,
           long& calls, Findings& findings) {
  static const HostValue kMalformed = [] {
    HostValue record{};
    record.kind = 11;
    return record;
  }();
  auto calling = [&](bool ready) {
    for (long i = 0; i < kCallsPerEvent; ++i) {
      if (!CallOnce(entry, ready))
        findings.Check(false, ready ? "the token is served" : "404 while withdrawn");
    }
    calls += kCallsPerEvent;
  };
  auto event = [&](const char* path, const char* type, const char* data, bool ready = true) {
    harness.DeliverEvent(path, type, data);
    calling(ready);
  };
  const char* token = R"({"token":"access-1"})";
  event(kAccessPath, "Update", token);
  event(kMessagePath, "Create", R"({"version":"1"})");
  event(kMessagePath, "Update", R"({"version":"2"})");
  event(kOutOfSyncPath, "Delete", nullptr);
  event(kOutOfSyncPath, "Create", nullptr);
  harness.host.service.status = 503;
  event(kAccessPath, "Update", token);                  // fails: the retry timer starts
  event(kMessagePath, "Update", R"({"version":"3"})");  // fails again
  harness.host.service.status = 200;
  harness.host.service.body = "{}";
  event(kOutOfSyncPath, "Delete", nullptr);  // 2xx without a token
  harness.host.service.body = good;
  harness.host.RunNextScheduled();      // a tick before the deadline
  event(kAccessPath, "Update", token);  // succeeds: the timer goes
  event(kAccessPath, "Delete", nullptr, false);
  event(kAccessPath, "Create", token);
  event(kRegionPath, "Update", R"({"region":"eu"})");
  event(kRegionPath, "Update", R"({"region":"us"})");
  event(kRegionPath, "Update", R"({"region":"eu"})");
  event(kRegionPath, "Delete", nullptr);
  harness.DeliverRecord(kAccessPath, kMalformed);
  calling(true);
  event(kMessagePath, "Delete", nullptr);
  event(kAccessPath, "Update", token);
  event(kOutOfSyncPath, "Update", nullptr);
  event(kAccessPath, "Update", token);
  Drain(harness);
  harness.ForgetHistory();
}

void RunSoak(LoadEntitlementsFn load, const SoakCounts& counts, Findings& findings) {
  // A first plugin settles what the process keeps once.
  const unsigned long long level = WarmUpLevel(load, findings);
  auto started = std::chrono::steady_clock::now();
  PluginHarness harness(load);
  if (!harness.StartServing()) {
    findings.Check(false, "serves a token at start");
    return;
  }
  const unsigned long long atStart = harness.BytesInUse();
  const std::string good = harness.host.service.body;
  const auto* entry = static_cast<const ApiFunctionEntry*>(harness.Record().descriptor->functions);
  long calls = 0;
  long events = 0;
  std::vector<unsigned long long> samples;
  const long cycles = counts.events / kEventsPerCycle;
  const long extraCalls = counts.calls - cycles * kEventsPerCycle * kCallsPerEvent;
  for (long cycle = 0; cycle < cycles; ++cycle) {
    Cycle(harness, *entry, good, calls, findings);
    events += kEventsPerCycle;
    // The remaining calls are spread over the cycles.
    for (long i = 0; i < extraCalls / cycles; ++i) {
      if (!CallOnce(*entry, true)) findings.Check(false, "the token is served");
      ++calls;
    }
    if ((cycle + 1) % counts.cyclesPerSample == 0) samples.push_back(harness.BytesInUse());
    if (findings.Texts().size() > 20) break;
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  harness.Stop();
  std::string shown;
  for (unsigned long long sample : samples) shown += " " + std::to_string(sample);
  findings.Note("soak: " + std::to_string(calls) + " endpoint calls, " + std::to_string(events) +
                " events in " + std::to_string(seconds) + " s; bytes in use: before the plugin " +
                std::to_string(level) + ", after its start " + std::to_string(atStart) +
                ", per sample" + shown + ", after its shutdown " +
                std::to_string(harness.BytesInUse()));
  findings.Check(harness.BytesInUse() == level, "shutdown returns every byte of the soaked plugin");
  findings.Check(calls >= counts.calls && events >= counts.events, "ran every call and event");
  // The first sample is the warm-up; every later one must match the second.
  for (size_t i = 2; i < samples.size(); ++i) {
    findings.Check(samples[i] == samples[1], "bytes in use stay flat: sample " + std::to_string(i) +
                                                 " is " + std::to_string(samples[i]) + ", not " +
                                                 std::to_string(samples[1]));
  }
  findings.Check(samples.size() >= 3, "enough samples to compare");
}

TEST(SoakTest, MillionCallsAndHundredThousandEventsKeepBytesInUseFlat) {
  const SoakCounts counts{100000 / kScale, 1000000 / kScale, 250 / kScale};
  std::vector<std::string> notes;
  auto found = RunOnSharedObject(
      [&](LoadEntitlementsFn load, Findings& findings) { RunSoak(load, counts, findings); },
      &notes);
  for (const std::string& note : notes) std::printf("%s\n", note.c_str());
  EXPECT_TRUE(found.empty()) << JoinLines(found);
}

// The short run that the memcheck test drives; it loads the shared object in
// this process, so that memcheck sees every allocation.
TEST(SoakTest, ShortRunForMemcheck) {
  LoadEntitlementsFn load = LoadSharedObject();
  ASSERT_NE(load, nullptr);
  Findings findings;
  RunSoak(load, SoakCounts{2000, 20000, 20}, findings);
  for (const std::string& note : findings.Notes()) std::printf("%s\n", note.c_str());
  EXPECT_TRUE(findings.Empty()) << findings.Text();
}

}  // namespace
}  // namespace qmx::test
