// Events whose payload has the wrong shape, delivered to every subscription
// the plugin made: the plugin drops them without a request, keeps serving its
// last good token and leaks nothing. Payloads of the right shape with odd
// values go through the handlers and leave a token served.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/malformed_records.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

struct EventFault {
  std::string name;
  HostValue payload;
  // The event reaches its handler: a missing, Empty or empty-text eventType
  // reads as Create (0), like any absent or empty number.
  bool handled;
};

bool ReadsAsCreate(const std::string& oddName) {
  return oddName == "empty" || oddName == "string ref null" || oddName == "string null with length";
}

std::vector<EventFault> MakeFaults(RecordStore& store, const char* path) {
  std::vector<EventFault> faults;
  const HostValue uri = Text(path);
  const HostValue update = Text("Update");
  const HostValue data =
      store.Structure({Member("region", Text("eu")), Member("token", Text("access-1")),
                       Member("version", Text("3"))});
  // The payload itself of every odd shape.
  for (const NamedRecord& odd : OddValues(store))
    faults.push_back({"payload " + odd.name, odd.record, false});
  // Each member of every odd shape in an otherwise good event.
  for (const NamedRecord& odd : OddValues(store)) {
    faults.push_back({"uri " + odd.name, store.Event(&odd.record, &update, &data), false});
    faults.push_back(
        {"eventType " + odd.name, store.Event(&uri, &odd.record, &data), ReadsAsCreate(odd.name)});
  }
  const HostValue types[] = {Scalar(HostValueSigned, 3),
                             Scalar(HostValueSigned, static_cast<uint64_t>(-1)),
                             Scalar(HostValueSigned, 1ull << 40),
                             Text("Upsert"),
                             Text("update"),
                             Scalar(HostValueFloat, 0x3FF8000000000000ull),
                             Scalar(HostValueBool, 1)};
  for (const HostValue& type : types)
    faults.push_back({"unknown eventType", store.Event(&uri, &type, &data), false});
  const HostValue emptyType = Text("");
  faults.push_back({"eventType empty text", store.Event(&uri, &emptyType, &data), true});
  faults.push_back({"no uri", store.Event(nullptr, &update, &data), false});
  faults.push_back({"no eventType", store.Event(&uri, nullptr, &data), true});
  const HostValue other = Text(store.Keep(std::string(path) + "/x"));
  faults.push_back({"other uri", store.Event(&other, &update, &data), false});
  faults.push_back({"nothing", store.Event(nullptr, nullptr, nullptr), false});
  return faults;
}

// A payload of the right shape whose data is odd: the handler runs.
std::vector<EventFault> MakeOddData(RecordStore& store, const char* path) {
  std::vector<EventFault> cases;
  const HostValue uri = Text(path);
  const HostValue update = Text("Update");
  for (const NamedRecord& odd : OddValues(store)) {
    if (odd.name.find("5000") != std::string::npos) continue;  // too deep to arrive at all
    cases.push_back({"data " + odd.name, store.Event(&uri, &update, &odd.record), true});
    HostValue wrapped = store.Structure(
        {Member("region", odd.record), Member("token", odd.record), Member("version", odd.record)});
    cases.push_back({"data members " + odd.name, store.Event(&uri, &update, &wrapped), true});
  }
  cases.push_back({"no data", store.Event(&uri, &update, nullptr), true});
  return cases;
}

void RunEventFaults(LoadEntitlementsFn load, Findings& findings) {
  RecordStore store;
  const unsigned long long level = WarmUpLevel(load, findings);
  PluginHarness harness(load);
  findings.Check(harness.StartServing(), "serves a token");
  const EndpointAnswer good = harness.Get();
  const char* paths[] = {kAccessPath, kRegionPath, kMessagePath, kOutOfSyncPath};
  for (const char* path : paths) {
    for (const EventFault& fault : MakeFaults(store, path)) {
      findings.SetContext(std::string(path) + ", " + fault.name);
      harness.ForgetHistory();
      if (fault.handled) harness.DeliverRecord(path, fault.payload);
      unsigned long long before = harness.BytesInUse();
      harness.DeliverRecord(path, fault.payload);
      if (!fault.handled) {
        findings.Check(harness.host.externalCalls.empty() && harness.host.jsonCalls.empty(),
                       "the event is dropped without a request");
      }
      findings.Check(harness.BytesInUse() == before, "bytes in use unchanged");
      findings.Check(harness.Get().body == good.body, "still serves the last good token");
    }
  }
  // Events under names the plugin did not ask for, or without a name or context.
  for (const char* name : {"OnJsonApiEvent", "OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                           "OnServiceProxyAsyncEvent", "OnLcdsEvent"}) {
    for (const NamedRecord& odd : OddValues(store)) {
      findings.SetContext(std::string(name) + ", " + odd.name);
      harness.host.DeliverRecord(name, odd.record);
    }
  }
  findings.SetContext("events without name or context");
  for (const auto& subscription : std::vector<TestHost::Subscription>(harness.host.subscriptions)) {
    HostEvent event{};
    event.payload = Text("x");
    event.context = subscription.context;
    subscription.callback(&event);  // no name
    event.name = subscription.name.c_str();
    event.context = nullptr;
    subscription.callback(&event);  // no context
    subscription.callback(nullptr);
  }
  findings.Check(harness.Get().body == good.body, "still serves the last good token");

  // Odd data reaches the handlers; whatever they make of it, a token is served
  // and the plugin stays flat.
  for (const char* path : paths) {
    for (const EventFault& odd : MakeOddData(store, path)) {
      findings.SetContext(std::string(path) + ", " + odd.name);
      harness.ForgetHistory();
      harness.DeliverRecord(path, odd.payload);
      unsigned long long before = harness.BytesInUse();
      harness.DeliverRecord(path, odd.payload);
      findings.Check(harness.BytesInUse() == before,
                     "bytes in use stay flat while the event repeats");
      EndpointAnswer answer = harness.Get();
      findings.Check(answer.error.empty(), "a token is served: " + answer.error);
      // Put back the good region and access token for the next case.
      harness.DeliverEvent(kRegionPath, "Update", R"({"region":"eu"})");
      harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
    }
  }
  findings.SetContext("");
  findings.Check(harness.Get().body == good.body, "serves the good token again");
  harness.Stop();
  findings.Check(harness.BytesInUse() == level, "bytes in use return to their level");
}

class EventFaultsTest : public PluginLoadTest {};

TEST_P(EventFaultsTest, MalformedEventsAreDropped) { ExpectNoFindings(&RunEventFaults); }

INSTANTIATE_TEST_SUITE_P(, EventFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
