// Malformed answers of the host's JSON API. Whatever the host puts in a
// HostResponse, the plugin keeps serving its last good token, schedules no
// retry, calls each release function once, and its bytes in use stay flat
// while it runs and return to their level after Shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "faults/malformed_records.h"
#include "interface/counted_allocator.h"
#include "interface/host_value.h"
#include "serialization/json.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

struct ReleaseCounts {
  int answers = 0;
  int releases = 0;
  int streamReleases = 0;
};
ReleaseCounts counts;

void CountRelease(HostResponse*) {
  ++counts.releases;
}
void ReleaseBody(HostResponse* response) {
  ++counts.releases;
  Release(response->body);
}
void ReleaseOwnedError(HostResponse* response) {
  ++counts.releases;
  if (response->errorOwned) CountedFree(const_cast<char*>(response->error));
  response->error = nullptr;
  Release(response->body);
}
void CountStreamRelease(void*) {
  ++counts.streamReleases;
}

// A streamed body scripted chunk by chunk.
struct Stream {
  std::vector<std::string> chunks;
  int failAt = -1;               // the read call (0-based) that fails
  uint32_t claimedSize = 0;      // when set, the size every read reports
  std::function<void()> during;  // run inside the second read, as a host running pending work
  size_t next = 0;
  int reads = 0;
};

bool ReadStream(void* context, uint8_t* buffer, uint32_t* size, bool* more) {
  auto* stream = static_cast<Stream*>(context);
  int call = stream->reads++;
  if (call == stream->failAt) return false;
  if (call == 1 && stream->during) stream->during();
  std::string chunk = stream->next < stream->chunks.size() ? stream->chunks[stream->next++] : "";
  uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(chunk.size()), *size);
  std::memcpy(buffer, chunk.data(), length);
  *size = stream->claimedSize != 0 ? stream->claimedSize : length;
  *more = stream->next < stream->chunks.size();
  return true;
}

std::vector<std::string> Chunks(const std::string& text, size_t size) {
  std::vector<std::string> chunks;
  for (size_t at = 0; at < text.size(); at += size) chunks.push_back(text.substr(at, size));
  return chunks;
}

constexpr char kRegionDataText[] =
    R"({"eu":{"servers":{"entitlements":{"entitlements_url":"https://eu.example/token"}}}})";

struct AnswerFault {
  std::string name;
  std::function<void(HostResponse*)> fill;
  bool released = false;        // fill sets a release function
  bool streamReleased = false;  // fill sets a stream release function
};

std::vector<AnswerFault> MakeFaults(RecordStore& store, Stream& stream, PluginHarness*& harness) {
  std::vector<AnswerFault> faults;
  auto add = [&](std::string name, std::function<void(HostResponse*)> fill, bool released = false,
                 bool streamReleased = false) {
    faults.push_back({std::move(name), std::move(fill), released, streamReleased});
  };
  add("error without body", [](HostResponse* r) {
    r->error = "boom";
    r->status = 500;
  });
  add("empty error text", [](HostResponse* r) { r->error = ""; });
  add(
      "error with a body and release",
      [](HostResponse* r) {
        FromValue(ReadJson(kRegionDataText).value(), r->body);
        r->error = "boom";
        r->status = 503;
        r->release = &ReleaseBody;
      },
      true);
  add(
      "owned error",
      [](HostResponse* r) {
        r->error = CountedCopy("owned failure", 13);
        r->errorOwned = 1;
        r->status = 400;
        r->release = &ReleaseOwnedError;
      },
      true);
  add("status 999 without error", [](HostResponse* r) { r->status = 999; });
  add(
      "headers null with a count, no content type",
      [](HostResponse* r) {
        r->headers = nullptr;
        r->headerCount = 1000;
        r->contentType = nullptr;
        r->kind = 77;
        r->release = &CountRelease;
      },
      true);
  static HostHeader odd[2] = {{nullptr, nullptr}, {"\xFF", nullptr}};
  add("headers without texts", [](HostResponse* r) {
    r->headers = odd;
    r->headerCount = 2;
    r->contentType = "\xFF\xFE";
  });
  add("absurd total length without a stream", [](HostResponse* r) { r->totalLength = ~0ull; });
  for (const NamedRecord& body : OddValues(store)) {
    HostValue record = body.record;
    add("body: " + body.name, [record](HostResponse* r) { r->body = record; });
  }

  auto streamed = [&](std::string name, std::function<void(Stream&)> script,
                      bool withRelease = true) {
    add(
        "stream: " + name,
        [&stream, script, withRelease](HostResponse* r) {
          stream = Stream{};
          script(stream);
          r->streamRead = &ReadStream;
          r->streamRelease = withRelease ? &CountStreamRelease : nullptr;
          r->streamContext = &stream;
        },
        false, withRelease);
  };
  streamed("fails at once", [](Stream& s) { s.failAt = 0; });
  streamed("fails midway", [](Stream& s) {
    s.chunks = Chunks(kRegionDataText, 10);
    s.failAt = 3;
  });
  streamed("good in 7-byte chunks", [](Stream& s) { s.chunks = Chunks(kRegionDataText, 7); });
  streamed(
      "good without a stream release", [](Stream& s) { s.chunks = {kRegionDataText}; }, false);
  streamed("claims more than the buffer holds", [](Stream& s) {
    s.chunks = {kRegionDataText, "}"};
    s.claimedSize = 1u << 30;
  });
  streamed("ends before it starts", [](Stream&) {});
  streamed("not JSON", [](Stream& s) { s.chunks = {"<html>", std::string(5000, 'x')}; });
  streamed("JSON nested 100000 deep",
           [](Stream& s) { s.chunks = Chunks(std::string(100000, '['), 4096); });
  streamed("a host event arrives while it is read", [&harness](Stream& s) {
    s.chunks = Chunks(kRegionDataText, 5);
    s.during = [&harness] {
      harness->DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
    };
  });
  streamed("the endpoint is called and the host runs its callbacks while it is read",
           [&harness](Stream& s) {
             s.chunks = Chunks(kRegionDataText, 5);
             s.during = [&harness] {
               harness->Get();
               for (int i = 0; i < 100 && harness->host.RunNextScheduled(); ++i) {
               }
             };
           });
  add(
      "stream and body together, lying hint",
      [&stream](HostResponse* r) {
        stream = Stream{};
        stream.chunks = {kRegionDataText};
        FromValue(ReadJson(R"({"region":"us"})").value(), r->body);
        r->streamRead = &ReadStream;
        r->streamRelease = &CountStreamRelease;
        r->streamContext = &stream;
        r->totalLength = 0xFFFFFFFF00000003ull;
        r->release = &ReleaseBody;
      },
      true, true);
  return faults;
}

struct Scenario {
  const char* name;
  const char* target;  // whose answer is malformed
  std::function<void(PluginHarness&)> trigger;
};

void RunAnswerFaults(LoadEntitlementsFn load, Findings& findings) {
  RecordStore store;
  Stream stream;
  PluginHarness* current = nullptr;
  std::vector<AnswerFault> faults = MakeFaults(store, stream, current);
  const Scenario scenarios[] = {
      {"region change", kRegionDataPath,
       [](PluginHarness& h) { h.DeliverEvent(kRegionPath, "Update", R"({"region":"eu"})"); }},
      {"messaging post", kMessagingPost,
       [](PluginHarness& h) { h.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})"); }},
  };

  // A first plugin settles what the process keeps once.
  const unsigned long long level = WarmUpLevel(load, findings, scenarios[0].trigger);

  for (const Scenario& scenario : scenarios) {
    for (const AnswerFault& fault : faults) {
      findings.SetContext(std::string(scenario.name) + ", " + fault.name);
      PluginHarness harness(load);
      current = &harness;
      if (!harness.StartServing()) {
        findings.Check(false, "serves a token before the fault");
        continue;
      }
      EndpointAnswer good = harness.Get();
      counts = ReleaseCounts{};
      harness.host.answers[scenario.target] = [&fault](HostResponse* r) {
        ++counts.answers;
        fault.fill(r);
      };
      unsigned long long second = 0;
      for (int round = 0; round < 3; ++round) {
        scenario.trigger(harness);
        harness.ForgetHistory();
        if (round == 1) second = harness.BytesInUse();
      }
      findings.Check(harness.BytesInUse() == second,
                     "bytes in use stay flat while the fault repeats");
      EndpointAnswer after = harness.Get();
      findings.Check(after.error.empty() && after.body == good.body,
                     "still serves the last good token");
      findings.Check(harness.RetryTimers() == 0, "a JSON-API answer schedules no retry");
      findings.Check(counts.answers >= 3, "the faulty answer was asked for");
      if (fault.released)
        findings.Check(counts.releases == counts.answers, "each answer released once");
      if (fault.streamReleased) {
        findings.Check(counts.streamReleases == counts.answers, "each stream released once");
      }
      harness.Stop();
      current = nullptr;
      findings.Check(harness.BytesInUse() == level,
                     "bytes in use return to their level: " + std::to_string(harness.BytesInUse()) +
                         " vs " + std::to_string(level));
    }
  }
  findings.SetContext("");
}

// The same answers at start-up, for every read the start makes: the plugin
// starts, answers its endpoint and shuts down cleanly.
void RunStartUpFaults(LoadEntitlementsFn load, Findings& findings) {
  RecordStore store;
  Stream stream;
  PluginHarness* current = nullptr;
  std::vector<AnswerFault> faults = MakeFaults(store, stream, current);
  const unsigned long long level = WarmUpLevel(load, findings);
  for (const AnswerFault& fault : faults) {
    findings.SetContext("start-up, " + fault.name);
    PluginHarness harness(load);
    current = &harness;
    harness.host.states[kAccessPath] = R"({"token":"access-1"})";
    harness.host.service.body = TokenBody(TokenWithClaims(harness.goodClaims));
    for (const char* target :
         {kGlobalsPath, kRegionDataPath, kRegionPath, kAccessPath, kMessagePath, kOutOfSyncPath}) {
      harness.host.answers[target] = fault.fill;
    }
    findings.Check(harness.Start(), "Initialize succeeds");
    EndpointAnswer answer = harness.Get();
    findings.Check(answer.error.empty() || answer.error == "Entitlements token is not ready yet",
                   "the endpoint answers the token or not-ready: " + answer.error);
    harness.Stop();
    current = nullptr;
    findings.Check(harness.BytesInUse() == level, "bytes in use return to their level");
  }
  findings.SetContext("");
}

class HostAnswerFaultsTest : public PluginLoadTest {};

TEST_P(HostAnswerFaultsTest, MalformedAnswersLeaveTheServedToken) { ExpectNoFindings(&RunAnswerFaults); }

TEST_P(HostAnswerFaultsTest, MalformedStartUpAnswers) { ExpectNoFindings(&RunStartUpFaults); }

INSTANTIATE_TEST_SUITE_P(, HostAnswerFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
