// Answers of the entitlements service, as the host hands them over in an
// ExternalResponse. A failed fetch (transport or non-2xx) keeps the last good
// token and schedules a retry; a 2xx answer that does not parse keeps it and
// schedules nothing; a 2xx answer with a string token replaces it, however odd
// the token. Bytes in use stay flat and return to their level after Shutdown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serialization/json.h"
#include "support/plugin_load_test.h"

namespace qmx::test {
namespace {

int releases = 0;
void CountRelease(ExternalResponse*) {
  ++releases;
}

enum class Outcome { kRetry, kUnchanged, kReplaced };

struct ServiceFault {
  std::string name;
  PluginHarness::ServiceAnswer answer;
  Outcome outcome;
  std::string token;  // kReplaced: the token now served
};

PluginHarness::ServiceAnswer Answer(int32_t result, uint32_t status, std::string body) {
  PluginHarness::ServiceAnswer answer;
  answer.result = result;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

std::vector<ServiceFault> MakeFaults() {
  static HostHeader oddHeaders[3] = {{nullptr, nullptr}, {"content-type", nullptr}, {nullptr, "x"}};
  const std::string good = TokenBody(TokenWithClaims(R"({"sub":"u2"})"));
  std::vector<ServiceFault> faults;
  for (int32_t result : {-1, 1, 2, 7, -100}) {
    std::string name = "result " + std::to_string(result);
    faults.push_back(
        {name + " with text", Answer(result, 200, "connection refused"), Outcome::kRetry, {}});
    faults.push_back({name + " with a token body", Answer(result, 200, good), Outcome::kRetry, {}});
    faults.push_back({name + " without text", Answer(result, 0, ""), Outcome::kRetry, {}});
    PluginHarness::ServiceAnswer nullText = Answer(result, 0, "12345");
    nullText.nullBody = true;
    faults.push_back({name + " with a null text and a length", nullText, Outcome::kRetry, {}});
  }
  for (uint32_t status : {0u, 100u, 101u, 199u, 300u, 301u, 304u, 399u, 400u, 401u, 404u, 500u,
                          503u, 999u, 0xFFFFFFFFu}) {
    faults.push_back(
        {"status " + std::to_string(status), Answer(0, status, good), Outcome::kRetry, {}});
  }
  PluginHarness::ServiceAnswer nullBody = Answer(0, 200, std::string(64, 'x'));
  nullBody.nullBody = true;
  faults.push_back({"2xx, body null with a length", nullBody, Outcome::kRetry, {}});
  PluginHarness::ServiceAnswer nullHeaders = Answer(0, 200, good);
  nullHeaders.headerCount = 3;
  faults.push_back({"2xx, headers null with a count", nullHeaders, Outcome::kRetry, {}});
  PluginHarness::ServiceAnswer released = Answer(0, 500, "down");
  released.release = &CountRelease;
  faults.push_back({"500 with a release function", released, Outcome::kRetry, {}});

  const std::string unusable[] = {"",
                                  "not json",
                                  "[1,2]",
                                  "\"text\"",
                                  "{}",
                                  "{",
                                  "null",
                                  R"({"entitlements_token":null})",
                                  R"({"entitlements_token":5})",
                                  R"({"entitlements_token":true})",
                                  R"({"entitlements_token":[]})",
                                  R"({"entitlements_token":{"a":"b"}})",
                                  R"({"entitlements_token":""})",
                                  R"({"Entitlements_Token":"x.y.z"})",
                                  "\xEF\xBB\xBF{\"entitlements_token\":\"x\"}",
                                  std::string("\0{\"entitlements_token\":\"x\"}", 25)};
  for (const std::string& body : unusable) {
    faults.push_back({"2xx body " + body, Answer(0, 200, body), Outcome::kUnchanged, {}});
  }
  faults.push_back({"2xx body nested 4 MiB deep",
                    Answer(0, 200, std::string(4 << 20, '[')),
                    Outcome::kUnchanged,
                    {}});
  faults.push_back({"2xx body of 5 MiB garbage",
                    Answer(0, 299, std::string(5 << 20, '\x01')),
                    Outcome::kUnchanged,
                    {}});
  PluginHarness::ServiceAnswer releasedOk = Answer(0, 200, "{}");
  releasedOk.release = &CountRelease;
  faults.push_back({"2xx unusable with a release function", releasedOk, Outcome::kUnchanged, {}});
  faults.push_back(
      {"500 with 6 MiB of text", Answer(0, 500, std::string(6 << 20, 'e')), Outcome::kRetry, {}});

  // Tokens of every odd form are still tokens: they replace the served one.
  const std::string claimsDeep = std::string(300, '[') + std::string(300, ']');
  const std::string odd[] = {
      "abc",
      "a.b",
      "a.b.c.d",
      "....",
      "!!!.@@@.###",
      "e30.e30",
      "e30." + Base64Url("not json") + ".x",
      "e30." + Base64Url(R"({"entitlements":)" + claimsDeep + "}") + ".x",
      "e30." + Base64Url(R"({"sub":"\u0000","entitlements":[null,{},[],1.5]})") + ".x",
      "e30." + std::string(3 << 20, 'A') + ".c2ln",
      std::string(1 << 20, '.'),
  };
  for (const std::string& token : odd) {
    faults.push_back({"token " + token.substr(0, 40), Answer(0, 200, TokenBody(token)),
                      Outcome::kReplaced, token});
  }
  std::string padded =
      R"({"pad":")" + std::string(4 << 20, 'p') + R"(","entitlements_token":"big.token"})";
  faults.push_back(
      {"2xx body of 4 MiB with a token", Answer(0, 200, padded), Outcome::kReplaced, "big.token"});
  PluginHarness::ServiceAnswer headered = Answer(0, 200, TokenBody("with.headers"));
  headered.headers = oddHeaders;
  headered.headerCount = 3;
  faults.push_back(
      {"2xx with headers lacking texts", headered, Outcome::kReplaced, "with.headers"});
  PluginHarness::ServiceAnswer releasedGood = Answer(0, 200, TokenBody("released.token"));
  releasedGood.release = &CountRelease;
  faults.push_back(
      {"2xx token with a release function", releasedGood, Outcome::kReplaced, "released.token"});
  return faults;
}

// The token member of an endpoint answer.
std::string ServedToken(const EndpointAnswer& answer) {
  ValueResult body = ReadJson(answer.body);
  return body.Ok() ? body.value().FindMember("token").ToString() : "";
}

void RunServiceFaults(LoadEntitlementsFn load, Findings& findings) {
  const std::vector<ServiceFault> faults = MakeFaults();
  const unsigned long long level = WarmUpLevel(load, findings);
  for (const ServiceFault& fault : faults) {
    findings.SetContext(fault.name);
    PluginHarness harness(load);
    if (!harness.StartServing()) {
      findings.Check(false, "serves a token before the fault");
      continue;
    }
    const EndpointAnswer good = harness.Get();
    harness.host.service = fault.answer;
    releases = 0;
    unsigned long long second = 0;
    for (int round = 0; round < 3; ++round) {
      harness.DeliverEvent(kAccessPath, "Update", R"({"token":"access-1"})");
      if (round == 1) second = harness.BytesInUse();
    }
    findings.Check(harness.host.externalCalls.size() == 4, "each trigger sent one request");
    findings.Check(harness.BytesInUse() == second,
                   "bytes in use stay flat while the fault repeats");
    if (fault.answer.release != nullptr) findings.Check(releases == 3, "each answer released once");
    const EndpointAnswer after = harness.Get();
    findings.Check(after.error.empty(), "the endpoint still answers a token: " + after.error);
    switch (fault.outcome) {
      case Outcome::kRetry:
        findings.Check(harness.RetryTimers() == 1, "one retry timer is scheduled");
        findings.Check(after.body == good.body, "still serves the last good token");
        break;
      case Outcome::kUnchanged:
        findings.Check(harness.RetryTimers() == 0, "no retry is scheduled");
        findings.Check(after.body == good.body, "still serves the last good token");
        break;
      case Outcome::kReplaced:
        findings.Check(harness.RetryTimers() == 0, "no retry is scheduled");
        findings.Check(ServedToken(after) == fault.token, "serves the new token");
        break;
    }
    // A good answer afterwards is taken whatever came before.
    harness.host.service = PluginHarness::ServiceAnswer{};
    harness.host.service.body = TokenBody("recovered.token");
    harness.DeliverEvent(kOutOfSyncPath, "Delete");
    findings.Check(ServedToken(harness.Get()) == "recovered.token",
                   "recovers with the next good answer");
    harness.Stop();
    findings.Check(harness.BytesInUse() == level, "bytes in use return to their level");
  }
  findings.SetContext("");
}

class ServiceAnswerFaultsTest : public PluginLoadTest {};

TEST_P(ServiceAnswerFaultsTest, FailuresRetryUnusableAnswersDoNot) { ExpectNoFindings(&RunServiceFaults); }

INSTANTIATE_TEST_SUITE_P(, ServiceAnswerFaultsTest, PluginLoads(), PluginLoadName);

}  // namespace
}  // namespace qmx::test
