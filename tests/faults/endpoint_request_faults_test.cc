// Hostile calls of GET "/entitlements/v1/token" through its descriptor entry:
// odd methods, targets, queries, arguments, headers, bodies and response
// records. Each call answers the token or an error, never both, returns every
// byte once released, and leaves the served token as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/malformed_records.h"
#include "interface/api_descriptor.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

int foreignReleases = 0;
void ForeignRelease(HostResponse*) {
  ++foreignReleases;
}

struct RequestFault {
  std::string name;
  HostRequest request;
};

std::vector<RequestFault> MakeFaults(RecordStore& store) {
  std::vector<RequestFault> faults;
  auto add = [&](std::string name, auto change) {
    HostRequest request = PluginHarness::GetRequest();
    change(request);
    faults.push_back({std::move(name), request});
  };
  for (uint32_t method : {0u, 1u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 99u, 0xFFFFFFFFu}) {
    add("method " + std::to_string(method), [method](HostRequest& r) { r.method = method; });
  }
  add("call by name", [](HostRequest& r) {
    r.method = HostMethodCall;
    r.callName = "GetEntitlementsV1Token";
    r.target = nullptr;
  });
  add("call by a garbage name", [](HostRequest& r) {
    r.method = HostMethodCall;
    r.callName = "\xFF\xFE";
  });
  const char* targets[] = {"",
                           "/",
                           "?",
                           "/entitlements/v1/token?",
                           "/entitlements/v1/token?a=1",
                           "/entitlements/v1/token?a",
                           "/entitlements/v1/token?&&&",
                           "/entitlements/v1/token?%",
                           "/entitlements/v1/token?%zz=%",
                           "/entitlements/v1/token?=",
                           "/entitlements/v1/token/",
                           "/entitlements/v1/token/extra",
                           "/ENTITLEMENTS/v1/token",
                           "//entitlements/v1/token",
                           "/entitlements/v1/token#x",
                           "entitlements/v1/token",
                           "/entitlements/v1/*",
                           "/entitlements/v1/{token}"};
  for (const char* target : targets)
    add(std::string("target ") + target, [target](HostRequest& r) { r.target = target; });
  add("target null", [](HostRequest& r) { r.target = nullptr; });
  const char* longQuery = store.Keep("/entitlements/v1/token?" + std::string(1 << 20, 'q') + "=1");
  add("a 1 MiB query", [longQuery](HostRequest& r) { r.target = longQuery; });
  const char* ampersands = store.Keep("/entitlements/v1/token?" + std::string(100000, '&'));
  add("100000 empty query pieces", [ampersands](HostRequest& r) { r.target = ampersands; });
  const char* longPath = store.Keep("/" + std::string(1 << 20, 'p'));
  add("a 1 MiB path", [longPath](HostRequest& r) { r.target = longPath; });

  add("arguments null with a count", [](HostRequest& r) { r.argumentCount = 5; });
  static HostArgument arguments[3];
  arguments[0] = {nullptr, Scalar(11, 0)};
  arguments[1] = {"x", Text("1")};
  arguments[2] = {"", Buffer(HostValueCollection, nullptr, 7)};
  for (uint32_t i = 0; i < 3; ++i) {
    add("argument " + std::to_string(i), [i](HostRequest& r) {
      r.arguments = &arguments[i];
      r.argumentCount = 1;
    });
  }
  add("headers null with a count", [](HostRequest& r) { r.headerCount = 9; });
  static HostHeader headers[3] = {{nullptr, nullptr}, {"token", nullptr}, {nullptr, "x"}};
  add("headers without texts", [](HostRequest& r) {
    r.headers = headers;
    r.headerCount = 3;
  });
  static std::vector<HostHeader> many(10000, HostHeader{"x-many", "1"});
  add("10000 headers", [](HostRequest& r) {
    r.headers = many.data();
    r.headerCount = static_cast<uint32_t>(many.size());
  });
  add("body null with a length", [](HostRequest& r) {
    r.bodyLength = 100;
    r.contentType = "application/json";
  });
  static const uint8_t msgpack[] = {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC1};
  const struct {
    const char* type;
    const uint8_t* body;
    uint32_t length;
  } bodies[] = {
      {"application/json", reinterpret_cast<const uint8_t*>("{"), 1},
      {"application/json", reinterpret_cast<const uint8_t*>("[[[[[[[["), 8},
      {"application/x-msgpack", msgpack, sizeof msgpack},
      {"application/x-yaml", reinterpret_cast<const uint8_t*>("&a [*a"), 6},
      {nullptr, reinterpret_cast<const uint8_t*>("x"), 1},
      {"\xFF", reinterpret_cast<const uint8_t*>("x"), 1},
  };
  for (const auto& body : bodies) {
    add(std::string("body of type ") + (body.type != nullptr ? body.type : "null"),
        [body](HostRequest& r) {
          r.contentType = body.type;
          r.body = body.body;
          r.bodyLength = body.length;
        });
  }
  return faults;
}

void RunEndpointFaults(LoadEntitlementsFn load, Findings& findings) {
  RecordStore store;
  PluginHarness harness(load);
  findings.Check(harness.StartServing(), "serves a token");
  const EndpointAnswer good = harness.Get();
  for (const RequestFault& fault : MakeFaults(store)) {
    findings.SetContext(fault.name);
    harness.Call(fault.request);  // the first call of a kind may settle what stays
    unsigned long long before = harness.BytesInUse();
    EndpointAnswer answer = harness.Call(fault.request);
    findings.Check(harness.BytesInUse() == before, "the released answer returns every byte");
    findings.Check(answer.hasRelease, "the answer carries its release function");
    findings.Check(answer.error.empty() ? answer.body == good.body : answer.body.empty(),
                   "answers the token or an error: " + answer.error);
    findings.Check(harness.Get().body == good.body, "still serves the token");
  }

  const auto* entry = static_cast<const ApiFunctionEntry*>(harness.Record().descriptor->functions);
  findings.SetContext("no function context");
  {
    HostRequest request = PluginHarness::GetRequest();
    HostResponse response{};
    entry->entry(&response, &request);
    findings.Check(response.error != nullptr && std::string(response.error) == "Invalid function" &&
                       response.status == 404,
                   "answers 404 Invalid function");
    if (response.release != nullptr) response.release(&response);
    entry->entry(nullptr, &request);
    entry->entry(&response, nullptr);
    if (response.release != nullptr) response.release(&response);
  }
  findings.SetContext("one response record reused without a release in between");
  {
    HostRequest request = PluginHarness::GetRequest();
    request.functionContext = entry->context;
    HostResponse response{};
    entry->entry(&response, &request);
    unsigned long long once = harness.BytesInUse();
    for (int i = 0; i < 10; ++i) entry->entry(&response, &request);
    findings.Check(harness.BytesInUse() == once, "each call releases what the previous one filled");
    response.release(&response);
    response.release(&response);  // a second release finds nothing left
  }
  findings.SetContext("a response record filled by someone else");
  {
    HostRequest request = PluginHarness::GetRequest();
    request.functionContext = entry->context;
    static HostHeader junk[1] = {{"a", "b"}};
    HostResponse response{};
    response.body = Text("left over");
    response.error = "old";
    response.errorOwned = 1;
    response.headers = junk;
    response.headerCount = 1;
    response.release = &ForeignRelease;
    foreignReleases = 0;
    unsigned long long before = harness.BytesInUse();
    entry->entry(&response, &request);
    findings.Check(foreignReleases == 0, "another side's release function is not called");
    findings.Check(response.error == nullptr, "answers the token");
    response.release(&response);
    findings.Check(harness.BytesInUse() == before, "the answer returns every byte");
  }
  findings.SetContext("");
}

class EndpointRequestFaultsTest : public PluginLoadTest {};

TEST_P(EndpointRequestFaultsTest, HostileCallsAnswerCleanly) { ExpectNoFindings(&RunEndpointFaults); }

INSTANTIATE_TEST_SUITE_P(, EndpointRequestFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
