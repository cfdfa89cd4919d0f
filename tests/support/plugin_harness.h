// Drives a whole plugin through a TestHost the way a host does: the load
// record, Initialize, events, the token endpoint through its descriptor entry
// and Shutdown. The same harness runs the plugin linked into the test program
// and the shipped shared object, and checks only what a host can observe.
//
// Fault tests and soak tests collect their findings as texts (Check) rather
// than gtest assertions, so that a run in a child process can report them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "interface/host_api.h"
#include "support/state_host.h"

namespace qmx::test {

inline constexpr char kRegionPath[] = "/vaskclient/region-locale";
inline constexpr char kAccessPath[] = "/kwe-auth/v1/authorization/access-token";
inline constexpr char kMessagePath[] = "/vask-messaging-service/v1/message/entitlements/v1/token";
inline constexpr char kOutOfSyncPath[] = "/vask-messaging-service/v1/out-of-sync";
inline constexpr char kMessagingPost[] = "/vask-messaging-service/v1/entitlements";
inline constexpr char kGlobalsPath[] = "/data-store/v1/install-settings/globals";
inline constexpr char kRegionDataPath[] = "/data-store/v1/system-settings/region_data";
inline constexpr char kTokenPath[] = "/entitlements/v1/token";
inline constexpr char kServiceUrl[] = "https://eu.example/token";
inline constexpr char kRetryTimerLabel[] = "Timer: entitlements.tick";

// The load sequence of the plugin linked into this program.
void LoadLinkedPlugin(PluginLoadRecord* record);
// load_entitlements of the shared object at PluginPath(), opened once and kept
// loaded; nullptr when it cannot be opened.
LoadEntitlementsFn LoadSharedObject();

// Base64url without padding, and tokens built from it.
std::string Base64Url(std::string_view bytes);
std::string TokenWithClaims(std::string_view claims);
// {"entitlements_token":"<token>"}
std::string TokenBody(std::string_view token);

// What one endpoint call answered.
struct EndpointAnswer {
  uint32_t status = 0;
  std::string error;  // "" when the response carried none
  std::string body;   // the body as compact JSON; "" for an Empty body
  bool hasRelease = false;
};

class PluginHarness {
 public:
  using ServiceAnswer = test::ServiceAnswer;

  explicit PluginHarness(LoadEntitlementsFn load);
  ~PluginHarness();
  PluginHarness(const PluginHarness&) = delete;
  PluginHarness& operator=(const PluginHarness&) = delete;

  // Loads and initialises a plugin; false when the load record stayed empty
  // or Initialize failed.
  bool Start();
  // Shuts the plugin down (if one runs) and forgets the host's records of it.
  void Stop();
  bool Running() const { return record_.context != nullptr; }

  // Starts with an access token and a service that answers a token with
  // goodClaims; false unless the endpoint then serves it.
  bool StartServing();

  // Calls the token endpoint's descriptor entry with request (its function
  // context is filled in) and releases the response.
  EndpointAnswer Call(HostRequest request);
  EndpointAnswer Get() { return Call(GetRequest()); }
  static HostRequest GetRequest();

  // A resource event of the usual shape, or a raw payload record.
  void DeliverEvent(const std::string& path, const char* type, const char* dataJson = nullptr);
  void DeliverRecord(const std::string& path, const HostValue& payload);

  // Bytes in use by the plugin's counted allocator.
  unsigned long long BytesInUse() const;
  // Scheduled host callbacks of the retry timer not yet run.
  size_t RetryTimers() const;
  // Forgets what the host recorded so far (keeps the subscriptions).
  void ForgetHistory();

  // Starts with the settings of the "eu" and "us" regions and "eu" chosen.
  StateHost host;
  std::string goodClaims = R"({"sub":"u1","iss":"i1","entitlements":["a","b"]})";

  const PluginLoadRecord& Record() const { return record_; }

 private:
  LoadEntitlementsFn load_;
  PluginLoadRecord record_{};
  void (*getStats_)(void*, MemoryStats*) = nullptr;
};

// Collects failed checks as texts.
class Findings {
 public:
  void Check(bool condition, const std::string& what) {
    if (!condition) texts_.push_back(context_ + what);
  }
  void SetContext(std::string context) { context_ = context.empty() ? "" : context + ": "; }
  // A measurement worth reporting, not a failure.
  void Note(const std::string& text) { notes_.push_back(text); }
  const std::vector<std::string>& Notes() const { return notes_; }
  bool Empty() const { return texts_.empty(); }
  std::string Text() const;
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  std::string context_;
  std::vector<std::string> texts_;
  std::vector<std::string> notes_;
};

// The texts, one a line.
std::string JoinLines(const std::vector<std::string>& texts);

// Bytes in use once a first plugin has served a token (and run exercise, when
// given) and shut down: what the process keeps once, the level every later
// plugin of the process must return to after its Shutdown.
unsigned long long WarmUpLevel(LoadEntitlementsFn load, Findings& findings,
                               const std::function<void(PluginHarness&)>& exercise = {});

// A table of checks run against one way of loading the plugin.
using PluginSuite = std::function<void(LoadEntitlementsFn load, Findings& findings)>;
// The two ways: the plugin linked into the test program, and the shipped
// shared object.
enum class PluginLoad { kLinked, kSharedObject };
// Runs suite the given way: RunLinked or RunOnSharedObject.
std::vector<std::string> RunSuite(PluginLoad how, const PluginSuite& suite,
                                  std::vector<std::string>* notes = nullptr);
// Runs suite in this process against the linked plugin; what it found. Its
// notes are appended to notes when given.
std::vector<std::string> RunLinked(const PluginSuite& suite,
                                   std::vector<std::string>* notes = nullptr);
// Runs suite in a child process against the shared object; what it found, or
// why the child ended early.
std::vector<std::string> RunOnSharedObject(const PluginSuite& suite,
                                           std::vector<std::string>* notes = nullptr);

}  // namespace qmx::test
