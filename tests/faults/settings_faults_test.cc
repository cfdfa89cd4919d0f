// Settings documents of the wrong shape for "globals" and "region_data": the
// plugin starts, resolves the URL the walk allows (or none) and fetches only
// from that.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faults/malformed_records.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

constexpr char kNone[] = "";

struct SettingsCase {
  std::string globals;     // JSON text
  std::string regionData;  // JSON text
  std::string url;         // the URL fetched from at start, or kNone
};

std::string RegionData(const std::string& url) {
  return R"({"eu":{"servers":{"entitlements":{"entitlements_url":)" + url + "}}}}";
}

std::vector<SettingsCase> Cases() {
  const std::string good = RegionData(R"("https://eu.example/token")");
  const std::string eu = R"({"region":"eu"})";
  std::vector<SettingsCase> cases = {
      {"[]", good, kNone},
      {R"("eu")", good, kNone},
      {"5", good, kNone},
      {"null", good, kNone},
      {R"({"region":null})", good, kNone},
      {R"({"region":["eu"]})", good, kNone},
      {R"({"region":{"eu":1}})", good, kNone},
      {R"({"region":""})", good, kNone},
      {R"({"Region":"eu"})", good, kNone},
      {R"({"region":"EU"})", good, kNone},
      {R"({"region":"us","region":"eu"})", good, kServiceUrl},
      // Texts cross the boundary up to their first NUL.
      {R"({"region":"eu\u0000x"})", good, kServiceUrl},
      {R"({"region":")" + std::string(1 << 20, 'r') + R"("})", good, kNone},
      {eu, "[]", kNone},
      {eu, R"("eu")", kNone},
      {eu, R"({"eu":[]})", kNone},
      {eu, R"({"eu":"servers"})", kNone},
      {eu, R"({"eu":{"servers":[]}})", kNone},
      {eu, R"({"eu":{"servers":{"entitlements":["entitlements_url"]}}})", kNone},
      {eu,
       R"({"eu\u0000":{"servers":{"entitlements":{"entitlements_url":"https://nul.example"}}}})",
       "https://nul.example"},
      {eu, RegionData("null"), kNone},
      {eu, RegionData(R"("")"), kNone},
      {eu, RegionData("5"), "5"},
      {eu, RegionData("true"), "true"},
      {eu, RegionData(R"("https://eu.example/token\u0000evil")"),
       std::string("https://eu.example/token\0evil", 29)},
      {eu, RegionData(R"(")" + std::string(1 << 20, 'u') + R"(")"), std::string(1 << 20, 'u')},
      // A collection's text is empty, however deep.
      {eu, RegionData(std::string(990, '[') + std::string(990, ']')), kNone},
      {eu, RegionData(std::string(5000, '[') + std::string(5000, ']')), kNone},
      {eu, RegionData(R"({"a":"b"})"), kNone},
  };
  return cases;
}

void RunSettingsFaults(LoadEntitlementsFn load, Findings& findings) {
  const unsigned long long level = WarmUpLevel(load, findings);
  const std::vector<SettingsCase> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const SettingsCase& c = cases[i];
    findings.SetContext("settings case " + std::to_string(i) + " " + c.globals.substr(0, 40) + " " +
                        c.regionData.substr(0, 60));
    PluginHarness harness(load);
    harness.host.states[kGlobalsPath] = c.globals;
    harness.host.states[kRegionDataPath] = c.regionData;
    harness.host.states[kAccessPath] = R"({"token":"access-1"})";
    harness.host.service.body = TokenBody("settings.token");
    findings.Check(harness.Start(), "Initialize succeeds");
    if (c.url.empty()) {
      findings.Check(harness.host.externalCalls.empty(), "no URL, no request");
      findings.Check(harness.Get().error == "Entitlements token is not ready yet",
                     "the endpoint is not ready");
    } else {
      findings.Check(harness.host.externalCalls.size() == 1 &&
                         harness.host.externalCalls[0].url == c.url.c_str(),
                     "fetches from the walk's URL");
      findings.Check(harness.Get().error.empty(), "serves the token");
    }
    harness.Stop();
    findings.Check(harness.BytesInUse() == level, "bytes in use return to their level");
  }

  // Raw records of every shape as either document, at start and on a region change.
  RecordStore store;
  for (const char* target : {kGlobalsPath, kRegionDataPath}) {
    for (const NamedRecord& odd : OddValues(store)) {
      findings.SetContext(std::string(target) + " as " + odd.name);
      PluginHarness harness(load);
      findings.Check(harness.StartServing(), "serves a token");
      const EndpointAnswer good = harness.Get();
      HostValue record = odd.record;
      harness.host.answers[target] = [record](HostResponse* r) { r->body = record; };
      harness.Stop();
      harness.host.externalCalls.clear();
      findings.Check(harness.Start(), "Initialize succeeds");
      findings.Check(harness.host.externalCalls.empty(), "no URL, no request");
      harness.host.answers.erase(target);
      harness.DeliverEvent(kRegionPath, "Update", R"({"region":"eu"})");
      findings.Check(harness.Get().body == good.body,
                     "a good region change fetches the token again");
      harness.host.answers[target] = [record](HostResponse* r) { r->body = record; };
      harness.DeliverEvent(kRegionPath, "Update", R"({"region":"eu"})");
      findings.Check(harness.Get().body == good.body,
                     "a bad region document keeps the served token");
      harness.Stop();
      findings.Check(harness.BytesInUse() == level, "bytes in use return to their level");
    }
  }
  findings.SetContext("");
}

class SettingsFaultsTest : public PluginLoadTest {};

TEST_P(SettingsFaultsTest, WrongShapedSettingsResolveNoUrl) { ExpectNoFindings(&RunSettingsFaults); }

INSTANTIATE_TEST_SUITE_P(, SettingsFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
