#include "demo_session.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "demo_service.h"
#include "reference_host.h"

namespace qmx::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTokenPath = "/entitlements/v1/token";
constexpr const char* kTokenEvent = "OnJsonApiEvent_entitlements_v1_token";
constexpr const char* kAccessTokenPath = "/kwe-auth/v1/authorization/access-token";
constexpr const char* kTokenMessagePath = "/vask-messaging-service/v1/message/entitlements/v1/token";
constexpr const char* kOutOfSyncPath = "/vask-messaging-service/v1/out-of-sync";
constexpr const char* kMessagingPath = "/vask-messaging-service/v1/entitlements";
constexpr const char* kRegionPath = "/vaskclient/region-locale";
constexpr const char* kRegion = "demo";

// The event types of the token resource as the host receives them.
std::string EventType(const Value& payload) {
  const Value& type = payload.FindMember("eventType");
  if (type.Kind() == ValueKind::String) return std::string(type.GetString());
  static const char* const kNames[] = {"Create", "Update", "Delete"};
  uint64_t number = type.Kind() == ValueKind::Signed ? static_cast<uint64_t>(type.GetSigned()) : type.GetUnsigned();
  return number < 3 ? kNames[number] : "?";
}

std::vector<std::string> Texts(const Value& list) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < list.Size() && list.Kind() == ValueKind::Collection; ++i)
    texts.emplace_back(list.At(i).GetString());
  return texts;
}

std::string Join(const std::vector<std::string>& texts) {
  std::string joined = "[";
  for (size_t i = 0; i < texts.size(); ++i) joined += (i ? ", " : "") + texts[i];
  return joined + "]";
}

// The token record without its credentials.
std::string Describe(const Value& record) {
  return "subject " + std::string(record.FindMember("subject").GetString()) + ", entitlements " +
         Join(Texts(record.FindMember("entitlements"))) + ", token of " +
         std::to_string(record.FindMember("token").GetString().size()) + " bytes";
}

struct TokenEvent {
  std::string type;
  std::string subject;
  std::vector<std::string> entitlements;
};

// What the session observes, filled on the host's plugin thread and read by
// the demo's steps.
class Observations {
 public:
  void AddEvent(TokenEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  void AddExternal(const ExternalCallRecord& call, double at) {
    std::lock_guard lock(mutex_);
    externals_.push_back({call, at});
    changed_.notify_all();
  }
  size_t EventCount() const {
    std::lock_guard lock(mutex_);
    return events_.size();
  }
  size_t ExternalCount() const {
    std::lock_guard lock(mutex_);
    return externals_.size();
  }
  std::vector<TokenEvent> EventsSince(size_t first) const {
    std::lock_guard lock(mutex_);
    return {events_.begin() + static_cast<long>(std::min(first, events_.size())), events_.end()};
  }
  std::vector<std::pair<ExternalCallRecord, double>> ExternalsSince(size_t first) const {
    std::lock_guard lock(mutex_);
    return {externals_.begin() + static_cast<long>(std::min(first, externals_.size())), externals_.end()};
  }
  // Waits until done() holds or the time is up; false on time-out.
  template <typename Predicate>
  bool WaitFor(double seconds, Predicate done, const std::atomic<bool>* interrupted) {
    std::unique_lock lock(mutex_);
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!done()) {
      if (interrupted != nullptr && *interrupted) return false;
      if (changed_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(100))) ==
              std::cv_status::timeout &&
          Clock::now() >= deadline)
        return done();
    }
    return true;
  }
  // For WaitFor's predicates, which run under the lock.
  size_t UnlockedEvents() const { return events_.size(); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TokenEvent> events_;
  std::vector<std::pair<ExternalCallRecord, double>> externals_;
};

class Session {
 public:
  Session(const DemoOptions& options, std::ostream& out) : options_(options), out_(out) {}

  DemoResult Run();

 private:
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }
  void Say(const std::string& text) {
    std::lock_guard lock(outMutex_);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%7.3f] ", Elapsed());
    out_ << stamp << text << "\n" << std::flush;
  }
  void Heading(const std::string& text) {
    std::lock_guard lock(outMutex_);
    out_ << "\n== " << text << "\n" << std::flush;
  }
  bool Check(bool held, const std::string& what) {
    if (Interrupted()) return false;  // a step cut short proves nothing either way
    ++result_.checks;
    if (!held) ++result_.failures;
    Say((held ? "  ok      " : "  FAILED  ") + what);
    return held;
  }
  size_t LogCount() const { return logLines_; }
  bool Interrupted() const { return options_.interrupted != nullptr && *options_.interrupted; }

  // GET /entitlements/v1/token through the host, described in the transcript.
  ApiAnswer GetToken() {
    ApiAnswer answer = host_->Get(kTokenPath);
    Say("GET " + std::string(kTokenPath) + " -> " + std::to_string(answer.status) + " " +
        (answer.Ok() ? Describe(answer.body) : answer.error));
    return answer;
  }
  bool WaitForEvents(size_t count, double seconds) {
    return observed_.WaitFor(seconds, [&] { return observed_.UnlockedEvents() >= count; }, options_.interrupted);
  }

  void WireObservers();
  bool SetUp();
  void SignIn();
  void Outage();
  void TokenNotification();
  void RegionChange();
  void SignOut();
  void TearDown();

  const DemoOptions& options_;
  std::ostream& out_;
  std::mutex outMutex_;
  Clock::time_point started_ = Clock::now();
  DemoResult result_;
  DemoService service_;
  std::unique_ptr<PluginModule> ownedPlugin_;
  PluginModule* plugin_ = nullptr;
  std::unique_ptr<ReferenceHost> host_;
  Observations observed_;
  std::atomic<size_t> logLines_{0};
};

void Session::WireObservers() {
  host_->onPluginEvent = [this](const std::string& name, const Value& payload) {
    if (name != kTokenEvent) return;  // the same event comes again under "OnJsonApiEvent"
    TokenEvent event{EventType(payload), std::string(payload.FindMember("data").FindMember("subject").GetString()),
                     Texts(payload.FindMember("data").FindMember("entitlements"))};
    std::string line = "  plugin publishes " + name + " " + event.type;
    if (event.type != "Delete") line += ": " + Describe(payload.FindMember("data"));
    Say(line);
    observed_.AddEvent(std::move(event));
  };
  host_->onExternalCall = [this](const ExternalCallRecord& call) {
    double at = Elapsed();
    char took[32];
    std::snprintf(took, sizeof took, " (%.0f ms)", call.seconds * 1000);
    std::string outcome = call.result == 0 ? std::to_string(call.status) : "failed: " + call.failure;
    Say("  plugin -> " + std::string(MethodName(call.method)) + " " + call.url + " -> " + outcome + took);
    observed_.AddExternal(call, at);
  };
  host_->onPluginRequest = [this](uint32_t method, const std::string& target) {
    if (target.starts_with("/vask-messaging-service/"))
      Say("  plugin -> host " + std::string(MethodName(method)) + " " + target);
  };
  host_->onLog = [this](int32_t level, const std::string& line) {
    ++logLines_;
    Say("  plugin log: " + line);
    if (options_.onLog) options_.onLog(level, line);
  };
}

bool Session::SetUp() {
  if (Result<void, std::string> listening = service_.Start("127.0.0.1", 0); !listening) {
    Check(false, listening.error());
    return false;
  }
  if (options_.plugin != nullptr) {
    plugin_ = options_.plugin;
  } else {
    Result<std::unique_ptr<PluginModule>, std::string> opened = PluginModule::Open(options_.pluginPath);
    if (!opened) {
      Check(false, "open the plugin: " + opened.error());
      return false;
    }
    ownedPlugin_ = std::move(opened).value();
    plugin_ = ownedPlugin_.get();
  }
  ReferenceHost::Options hostOptions;
  hostOptions.externalTimeoutSeconds = options_.externalTimeoutSeconds;
  host_ = std::make_unique<ReferenceHost>(hostOptions);
  WireObservers();

  Value globals;
  globals.Member("region").SetString(kRegion);
  host_->Seed("/data-store/v1/install-settings/globals", globals);
  Value regionData;
  regionData.Member(kRegion).Member("servers").Member("entitlements").Member("entitlements_url").SetString(
      service_.TokenUrl());
  host_->Seed("/data-store/v1/system-settings/region_data", regionData);
  Value locale;
  locale.Member("region").SetString(kRegion);
  locale.Member("locale").SetString("en-US");
  host_->Seed(kRegionPath, locale);
  Value marker;
  marker.Member("outOfSync").SetBool(true);
  host_->Seed(kOutOfSyncPath, marker);

  out_ << "qmx-host demo: plugin " << plugin_->Name() << "\n"
       << "entitlements service (demo) at " << service_.TokenUrl() << ", region '" << kRegion << "'\n";
  Heading("start");
  Result<void, std::string> started = host_->Start(*plugin_, options_.major, options_.minor, options_.patch);
  std::string version = std::to_string(options_.major) + "." + std::to_string(options_.minor) + "." +
                        std::to_string(options_.patch);
  if (!Check(started.Ok(), "a host of plugin interface " + version + " loads and initialises the plugin" +
                               (started ? "" : ": " + started.error())))
    return false;
  const PluginLoadRecord& record = plugin_->Record();
  Say("plugin '" + std::string(record.shortName) + "' " + std::to_string(record.major) + "." +
      std::to_string(record.minor) + "." + std::to_string(record.patch) + ", " +
      std::to_string(plugin_->Functions().size()) + " endpoint(s):");
  for (const ApiFunctionEntry& entry : plugin_->Functions())
    Say("  " + std::string(MethodName(entry.method)) + " " + entry.path + "  (" + entry.name + ")");
  host_->Settle();
  ApiAnswer answer = GetToken();
  Check(answer.status == 404 && answer.error == "Entitlements token is not ready yet",
        "no token before sign-in: 404 \"Entitlements token is not ready yet\"");
  return true;
}

void Session::SignIn() {
  Heading("sign-in: the access token is created");
  size_t events = observed_.EventCount();
  Value token;
  token.Member("token").SetString(result_.accessToken);
  Say("PUT " + std::string(kAccessTokenPath) + " (an access token of " + std::to_string(result_.accessToken.size()) +
      " bytes)");
  host_->Put(kAccessTokenPath, token);
  WaitForEvents(events + 1, 10);
  host_->Settle();
  std::vector<TokenEvent> seen = observed_.EventsSince(events);
  const std::vector<std::string> granted = {"entitlement.base", "entitlement.cloud-sync"};
  Check(seen.size() == 1 && seen[0].type == "Create", "the token is fetched and published once, as Create");
  Check(!seen.empty() && seen[0].subject == "alice" && seen[0].entitlements == granted,
        "its claims are decoded: subject alice, entitlements " + Join(granted));
  ApiAnswer answer = GetToken();
  Check(answer.Ok() && answer.status == 200 && answer.body.FindMember("subject").GetString() == "alice" &&
            answer.body.FindMember("issuer").GetString() == DemoService::kIssuer,
        "GET /entitlements/v1/token serves it");
  ApiAnswer messaging = host_->Get(kMessagingPath);
  Check(messaging.Ok() && messaging.body.FindMember("subject").GetString() == "alice",
        "the messaging service received it (POST " + std::string(kMessagingPath) + ")");
}

void Session::Outage() {
  Heading("outage: the service fails twice, the plugin retries with growing delays");
  service_.FailNext(2);
  Say("the service will answer the next 2 requests with 503");
  size_t events = observed_.EventCount();
  size_t externals = observed_.ExternalCount();
  Say("DELETE " + std::string(kOutOfSyncPath) + " (the messaging service is back in sync: refetch)");
  host_->Delete(kOutOfSyncPath);
  host_->Settle();
  ApiAnswer during = GetToken();
  Check(during.Ok() && during.body.FindMember("subject").GetString() == "alice",
        "during the outage the last good token is still served");
  Say("waiting for the retries (about 1 s, then about 10 s)...");
  bool recovered = WaitForEvents(events + 1, 40);
  host_->Settle();
  std::vector<std::pair<ExternalCallRecord, double>> attempts = observed_.ExternalsSince(externals);
  Check(recovered, "the service recovers and the plugin publishes the token again");
  Check(attempts.size() == 3 && attempts[0].first.status == 503 && attempts[1].first.status == 503 &&
            attempts.back().first.status == 200,
        "three attempts: 503, 503, 200");
  if (attempts.size() == 3) {
    double first = attempts[1].second - attempts[0].second;
    double second = attempts[2].second - attempts[1].second;
    char text[128];
    std::snprintf(text, sizeof text, "retry delays grow: %.2f s, then %.2f s (x10 each time, +-25%% jitter)", first,
                  second);
    // The delays themselves vary with the jitter and the machine: only their
    // growth is checked.
    Check(second > first, text);
  }
  std::vector<TokenEvent> seen = observed_.EventsSince(events);
  Check(seen.size() == 1 && seen[0].type == "Update", "recovery publishes an Update");
}

void Session::TokenNotification() {
  Heading("the messaging service announces new entitlements");
  std::vector<std::string> granted = {"entitlement.base", "entitlement.cloud-sync", "entitlement.premium"};
  service_.SetEntitlements(granted);
  Say("the service now grants " + Join(granted));
  size_t events = observed_.EventCount();
  Value message;
  message.Member("reason").SetString("entitlements changed");
  Say("PUT " + std::string(kTokenMessagePath));
  host_->Put(kTokenMessagePath, message);
  WaitForEvents(events + 1, 10);
  host_->Settle();
  std::vector<TokenEvent> seen = observed_.EventsSince(events);
  Check(seen.size() == 1 && seen[0].type == "Update" && seen[0].entitlements == granted,
        "the notification refetches the token: Update with " + Join(granted));
  ApiAnswer answer = GetToken();
  Check(answer.Ok() && Texts(answer.body.FindMember("entitlements")) == granted, "the endpoint serves the new list");
}

void Session::RegionChange() {
  Heading("the region changes to one without a service, then back");
  size_t events = observed_.EventCount();
  size_t logged = LogCount();
  Value locale;
  locale.Member("region").SetString("mars");
  locale.Member("locale").SetString("en-US");
  Say("PUT " + std::string(kRegionPath) + " (region 'mars')");
  host_->Put(kRegionPath, locale);
  host_->Settle();
  Check(LogCount() > logged, "the plugin logs that 'mars' has no entitlements service");
  ApiAnswer during = GetToken();
  Check(during.Ok() && observed_.EventCount() == events, "the last token is still served, nothing is published");
  locale.Member("region").SetString(kRegion);
  Say("PUT " + std::string(kRegionPath) + " (region '" + kRegion + "')");
  host_->Put(kRegionPath, locale);
  WaitForEvents(events + 1, 10);
  host_->Settle();
  std::vector<TokenEvent> seen = observed_.EventsSince(events);
  Check(seen.size() == 1 && seen[0].type == "Update", "the service URL is found again and the token refetched");
}

void Session::SignOut() {
  Heading("sign-out: the access token is deleted");
  size_t events = observed_.EventCount();
  Say("DELETE " + std::string(kAccessTokenPath));
  host_->Delete(kAccessTokenPath);
  WaitForEvents(events + 1, 10);
  host_->Settle();
  std::vector<TokenEvent> seen = observed_.EventsSince(events);
  Check(seen.size() == 1 && seen[0].type == "Delete", "the token resource is published as Delete");
  ApiAnswer messaging = host_->Get(kMessagingPath);
  Check(messaging.status == 404, "the messaging service's copy is deleted (DELETE " + std::string(kMessagingPath) + ")");
  ApiAnswer answer = GetToken();
  Check(answer.status == 404 && answer.error == "Entitlements token is not ready yet", "the endpoint answers 404 again");
}

void Session::TearDown() {
  Heading("shutdown");
  MemoryStats running = host_->Memory();
  host_->Stop();
  MemoryStats stopped = plugin_->Memory();
  auto inUse = [](const MemoryStats& stats) { return std::to_string(stats.bytesAllocated - stats.bytesReleased); };
  Say("plugin memory in use: " + inUse(running) + " bytes while running, " + inUse(stopped) +
      " bytes after Shutdown (peak " + std::to_string(stopped.peakBytes) + ")");
  Check(stopped.bytesAllocated - stopped.bytesReleased < running.bytesAllocated - running.bytesReleased,
        "Shutdown returns the plugin's memory");
  service_.Stop();
}

DemoResult Session::Run() {
  result_.accessToken = options_.accessToken;
  if (result_.accessToken.empty()) {
    std::random_device random;
    result_.accessToken = "alice:";
    for (int i = 0; i < 4; ++i) result_.accessToken += std::to_string(random());
  }
  bool ready = SetUp();
  using Step = void (Session::*)();
  for (Step step : {&Session::SignIn, &Session::Outage, &Session::TokenNotification, &Session::RegionChange,
                     &Session::SignOut}) {
    if (!ready || Interrupted()) break;
    (this->*step)();
  }
  if (host_ != nullptr) TearDown();
  result_.issuedTokens = service_.IssuedTokens();
  if (Interrupted()) {
    out_ << "\ndemo interrupted\n";
    result_.exitCode = 130;
    return result_;
  }
  bool passed = ready && result_.failures == 0;
  out_ << "\ndemo " << (passed ? "passed" : "FAILED") << ": " << result_.checks - result_.failures << " of "
       << result_.checks << " checks held\n";
  result_.exitCode = passed ? 0 : 1;
  return result_;
}

}  // namespace

DemoResult RunDemo(const DemoOptions& options, std::ostream& out) {
  Session session(options, out);
  return session.Run();
}

}  // namespace qmx::host
