#include "support/plugin_harness.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/base64.h"
#include "entitlements/entitlements_plugin.h"
#include "plugin/event_paths.h"
#include "interface/api_descriptor.h"
#include "interface/host_value.h"
#include "plugin/plugin_entry.h"
#include "port/library.h"
#include "serialization/json.h"
#include "support/child_process.h"
#include "support/paths.h"
#include "support/token_endpoint.h"

namespace qmx::test {
namespace {

constexpr char kRegionData[] =
    R"({"eu":{"servers":{"entitlements":{"entitlements_url":"https://eu.example/token"}}},)"
    R"("us":{"servers":{"entitlements":{"entitlements_url":"https://us.example/token"}}}})";

// Marks the child's finding lines among whatever else it printed.
constexpr char kFindingPrefix[] = "finding: ";
constexpr char kNotePrefix[] = "note: ";

const ApiFunctionEntry* TokenEntry(const PluginLoadRecord& record) {
  return FindTokenEntry(record.descriptor);
}

}  // namespace

void LoadLinkedPlugin(PluginLoadRecord* record) {
  LoadPlugin(record, &EntitlementsPlugin::Create);
}

namespace {

// Loaded once per process and kept until it ends.
port::Library& SharedObject() {
  static port::Library* library = new port::Library(PluginPath());
  return *library;
}

}  // namespace

LoadEntitlementsFn LoadSharedObject() {
  if (!SharedObject().Loaded()) return nullptr;
  return reinterpret_cast<LoadEntitlementsFn>(SharedObject().Symbol("load_entitlements"));
}

std::string Base64Url(std::string_view bytes) { return Base64UrlEncode(bytes); }

std::string TokenWithClaims(std::string_view claims) {
  return "e30." + Base64Url(claims) + ".c2ln";
}

std::string TokenBody(std::string_view token) {
  return R"({"entitlements_token":")" + std::string(token) + "\"}";
}

PluginHarness::PluginHarness(LoadEntitlementsFn load) : load_(load) {
  host.states[kGlobalsPath] = R"({"region":"eu"})";
  host.states[kRegionDataPath] = kRegionData;
}

PluginHarness::~PluginHarness() {
  Stop();
}

bool PluginHarness::Start() {
  Stop();
  if (load_ == nullptr) return false;
  record_ = PluginLoadRecord{};
  record_.major = 18;
  load_(&record_);
  if (record_.context == nullptr || record_.callbacks == nullptr) return false;
  getStats_ = record_.callbacks->GetMemoryStats;
  return record_.callbacks->Initialize(record_.context, host.Handle());
}

void PluginHarness::Stop() {
  if (!Running()) return;
  record_.callbacks->Shutdown(record_.context);
  record_ = PluginLoadRecord{};
  // Their contexts pointed into the plugin just destroyed.
  host.subscriptions.clear();
  host.scheduled.clear();
}

bool PluginHarness::StartServing() {
  host.states[kAccessPath] = R"({"token":"access-1"})";
  host.service = ServiceAnswer{};
  host.service.body = TokenBody(TokenWithClaims(goodClaims));
  if (!Start()) return false;
  EndpointAnswer answer = Get();
  return answer.error.empty() && answer.body.find("access-1") != std::string::npos;
}

HostRequest PluginHarness::GetRequest() {
  HostRequest request{};
  request.method = HostMethodGet;
  request.target = kTokenPath;
  return request;
}

EndpointAnswer PluginHarness::Call(HostRequest request) {
  EndpointAnswer answer;
  const ApiFunctionEntry* entry = TokenEntry(record_);
  if (entry == nullptr) {
    answer.error = "no token endpoint";
    return answer;
  }
  request.functionContext = entry->context;
  HostResponse response{};
  entry->entry(&response, &request);
  answer.status = response.status;
  if (response.error != nullptr) answer.error = response.error;
  ValueResult body = ToValue(response.body, "<body>");
  answer.body = body.Ok() ? WriteJson(body.value(), nullptr, nullptr) : "<unreadable>";
  answer.hasRelease = response.release != nullptr;
  if (response.release != nullptr) response.release(&response);
  return answer;
}

void PluginHarness::DeliverEvent(const std::string& path, const char* type, const char* dataJson) {
  host.DeliverResourceEvent(path, type, dataJson);
}

void PluginHarness::DeliverRecord(const std::string& path, const HostValue& payload) {
  host.DeliverRecord(EventNameForPath(path), payload);
}

unsigned long long PluginHarness::BytesInUse() const {
  if (getStats_ == nullptr) return 0;
  MemoryStats stats{};
  getStats_(nullptr, &stats);
  return stats.bytesAllocated - stats.bytesReleased;
}

size_t PluginHarness::RetryTimers() const {
  size_t count = 0;
  for (const auto& scheduled : host.scheduled) count += scheduled.label == kRetryTimerLabel ? 1 : 0;
  return count;
}

void PluginHarness::ForgetHistory() {
  host.jsonCalls.clear();
  host.externalCalls.clear();
  host.fired.clear();
  host.slotTrace.clear();
  host.logLines.clear();
  host.unsubscriptions.clear();
}

unsigned long long WarmUpLevel(LoadEntitlementsFn load, Findings& findings,
                               const std::function<void(PluginHarness&)>& exercise) {
  PluginHarness warm(load);
  findings.Check(warm.StartServing(), "the warm-up plugin serves a token");
  if (exercise) exercise(warm);
  warm.Stop();
  return warm.BytesInUse();
}

std::string JoinLines(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += text + "\n";
  return joined;
}

std::string Findings::Text() const {
  return JoinLines(texts_);
}

std::vector<std::string> RunLinked(const PluginSuite& suite, std::vector<std::string>* notes) {
  Findings findings;
  suite(&LoadLinkedPlugin, findings);
  if (notes != nullptr)
    notes->insert(notes->end(), findings.Notes().begin(), findings.Notes().end());
  return findings.Texts();
}

std::vector<std::string> RunOnSharedObject(const PluginSuite& suite,
                                           std::vector<std::string>* notes) {
  ChildResult child = RunInChild([&] {
    LoadEntitlementsFn load = LoadSharedObject();
    if (load == nullptr) {
      std::fprintf(stderr, "cannot open %s: %s\n", PluginPath().c_str(), SharedObject().Error().c_str());
      return 2;
    }
    Findings findings;
    suite(load, findings);
    for (std::string line : findings.Texts()) {
      for (char& c : line) c = c == '\n' ? ' ' : c;
      std::printf("%s%s\n", kFindingPrefix, line.c_str());
    }
    for (const std::string& note : findings.Notes())
      std::printf("%s%s\n", kNotePrefix, note.c_str());
    return findings.Empty() ? 0 : 1;
  });
  std::vector<std::string> texts;
  if (notes != nullptr) {
    std::istringstream lines(child.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(kNotePrefix, 0) == 0) notes->push_back(line.substr(std::strlen(kNotePrefix)));
    }
  }
  if (child.exitCode == 1) {
    std::istringstream lines(child.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(kFindingPrefix, 0) == 0)
        texts.push_back(line.substr(std::strlen(kFindingPrefix)));
    }
  } else if (child.exitCode != 0) {
    texts.push_back("the child ended with " + std::to_string(child.exitCode) +
                    "; stderr: " + child.err);
  }
  return texts;
}

std::vector<std::string> RunSuite(PluginLoad how, const PluginSuite& suite,
                                  std::vector<std::string>* notes) {
  return how == PluginLoad::kLinked ? RunLinked(suite, notes) : RunOnSharedObject(suite, notes);
}

}  // namespace qmx::test
