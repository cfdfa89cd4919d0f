// PluginClient: the host-independent part of a plugin object.
//
// It implements resource subscriptions and event dispatch, named timers, the
// JSON-API and outside-request clients and settings access, and reaches the
// host only through nine pure virtual operations (CallJsonApi ... EndWait),
// which Plugin forwards to the host's table.
//
// Thread safety: only the scheduled-callback table is locked (its own mutex).
// Subscriptions, handlers and timers are not: the host must not run two calls
// into one plugin at the same time. Handlers may call back into the host.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"
#include "binding/value.h"
#include "plugin/interface/host_api.h"
#include "plugin/host_types.h"

namespace qmx {

// Holds the registry pointer and the two subscription operations, which do
// nothing at this level.
class EventSubscriber {
 public:
  virtual void Subscribe(const std::string& path) { (void)path; }
  virtual void Unsubscribe(const std::string& path) { (void)path; }
  virtual ~EventSubscriber() = default;

 protected:
  const TypeRegistry* subscriberRegistry_ = nullptr;
};

// The failure record of a JSON-API call.
struct RequestError {
  int32_t code = 0;
  std::string message;
  Value fields;  // a Structure of the named template values (and "errorCode_int")
};

// Absent on success.
using RequestResult = std::optional<RequestError>;

// What a caller fills to call an outside HTTP service.
struct ExternalRequestSpec {
  uint32_t method = 0;
  std::string url;
  std::map<std::string, std::string> headers;
  std::string body;
  uint32_t setting1 = 0;
  uint32_t setting2 = 1;
};

struct ExternalAnswer {
  int32_t resultCode = 0;
  int32_t status = -1;
  int32_t conversionFailed = -1;
  int32_t reserved = -1;
  std::string message;
  std::map<std::string, std::string> headers;
  std::string body;
};

// A resource event whose data has the native type T.
template <typename T>
struct TypedResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  T data{};
};

class PluginClient : public EventSubscriber {
 public:
  using EventCallable = std::function<void(const Value& payload)>;
  using PathHandler = std::function<void(const PluginResourceEvent& event)>;

  PluginClient();
  ~PluginClient() override;

  // Reference-counted host subscription for the path's event name.
  void Subscribe(const std::string& path) override;
  void Unsubscribe(const std::string& path) override;

  // Unsubscribes every event name at the host and clears the handler, timer
  // and path tables.
  virtual void Shutdown();

  // The host's operations, in the order of its table.
  virtual void CallJsonApi(HostResponse* response, HostRequest* request) = 0;
  virtual void SendExternalRequest(ExternalResponse* response, ExternalRequest* request) = 0;
  virtual void FireEvent(HostEvent* event) = 0;
  virtual void SubscribeEvent(const char* name, uint32_t cookie, HostEventCallback callback,
                              void* context, int32_t flag) = 0;
  virtual void UnsubscribeEvent(const char* name, uint32_t cookie) = 0;
  virtual void ScheduleCallback(const char* label, HostTimerCallback callback, void* context,
                                double seconds, int32_t flag) = 0;
  virtual void YieldThread() = 0;
  virtual void BeginWait(const char* label, int32_t flag) = 0;
  virtual void EndWait() = 0;

  // Sets handlers[eventName] and subscribes at the host with flag.
  void RegisterHandler(const std::string& eventName, EventCallable callable, int32_t flag);

  // Registers a typed handler for path (exact, or a pattern with "*") and
  // subscribes; an exact path first gets its current state as a Create event.
  template <typename T>
  void Subscribe(const std::string& path, std::function<void(const TypedResourceEvent<T>&)> handler);

  // JSON-API calls.
  RequestResult Request(uint32_t method, const std::string& path);
  // parameters: a Structure with one member per parameter; it travels as one
  // unnamed argument.
  RequestResult Request(uint32_t method, const std::string& path, const Value& parameters);
  template <typename T>
  RequestResult RequestRecord(uint32_t method, const std::string& path, const T& record);
  template <typename T>
  RequestResult Post(const std::string& path, const T& record) {
    return RequestRecord(HostMethodPost, path, record);
  }
  // The typed form: the answer's body converted to T.
  template <typename T>
  std::pair<T, RequestResult> RequestTyped(uint32_t method, const std::string& path);
  // The answer's body as a Value.
  std::pair<Value, RequestResult> RequestValue(uint32_t method, const std::string& path);

  static RequestError NotFound(std::string_view message);
  // "Error converting response for {method} {url}: {error}", code 0.
  static RequestError ConversionError(uint32_t method, const std::string& path, std::string_view error);

  ExternalAnswer SendRequest(const ExternalRequestSpec& spec);

  // Settings of the data store.
  std::pair<Value, RequestResult> GetInstallSetting(const std::string& name);
  std::pair<Value, RequestResult> GetSystemSetting(const std::string& name);

  // Publishing resource changes.
  template <typename T>
  void PublishResourceEvent(PluginResourceEventType type, const std::string& uri, const T& record);
  void PublishResourceDeleted(const std::string& uri);
  RequestResult SendEvent(const std::string& name, const PluginResourceEvent& event);

  // Named timers on one-shot host callbacks.
  void AddTimer(const std::string& name, double seconds, std::function<void()> callback);
  void RemoveTimer(const std::string& name);
  bool HasTimer(const std::string& name) const { return timers_.count(name) != 0; }

  // Matches received service-proxy responses with pending requests.
  void FulfillServiceProxyRequests();
  // Posts the event to "/telemetry/v1/events/<eventName>"; the future is ready
  // when this returns.
  std::future<RequestResult> SendTelemetry(const std::string& eventName, const Value& parameters);

  // Inspection of the keyed tables, for diagnostics and tests. The response
  // kept under key (a uuid, or "service.method"), if any, and how many are
  // kept.
  std::optional<PluginServiceProxyResponse> ReceivedServiceProxyResponse(const std::string& key) {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    auto found = receivedResponses_.find(key);
    if (found == receivedResponses_.end()) return std::nullopt;
    return found->second;
  }
  size_t ReceivedServiceProxyResponseCount() {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    return receivedResponses_.size();
  }
  // The ids of the scheduled calls the host has not run yet, ascending.
  std::vector<uint64_t> OutstandingScheduledCallIds() {
    std::lock_guard<std::mutex> lock(scheduledLock_);
    std::vector<uint64_t> ids;
    for (const auto& entry : scheduledCallbacks_) ids.push_back(entry.first);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  const TypeRegistry* Registry() const { return registry_; }
  uint32_t HostCookie() const { return hostCookie_; }
  const std::string& UserAgent() const { return userAgent_; }
  const std::string& ClientShortName() const { return shortName_; }

 protected:
  // Stores the host's cookie, short name and user agent and sets the registry
  // pointer of the subscriber part.
  // Also subscribes the three service-proxy handlers (flag 1).
  void Attach(uint32_t hostCookie, std::string shortName, std::string userAgent);
  void SetRegistry(const TypeRegistry* registry) { registry_ = registry; }

 private:
  struct Timer {
    std::string name;
    std::function<void()> callback;
    double interval = 0;
    uint64_t generation = 0;
    int64_t due = 0;
  };
  struct ScheduledCall {
    PluginClient* owner;
    uint64_t id;
    std::function<void()> callable;
  };

  static void OnHostEvent(HostEvent* event);
  static void OnHostTimer(void* context);
  void DispatchPath(const PluginResourceEvent& event);
  void FireTimer(const std::string& name, uint64_t generation);
  void ScheduleHostCallback(const std::string& label, std::function<void()> callable, int64_t due);
  RequestResult Send(uint32_t method, const std::string& path, const Value* parameters,
                     const std::string& conversionError, HostResponse* keep);
  void StorePathHandler(const std::string& path, PathHandler handler);
  // Converts data into out under the name; the failure's message, or "".
  template <typename T>
  std::string ConvertInto(const Value& data, T& out, const char* name) const;
  template <typename T>
  bool ConvertData(const Value& data, T& out) const {
    return ConvertInto(data, out, "<value>").empty();
  }

  std::unordered_map<std::string, PathHandler> exactPathHandlers_;
  std::unordered_map<std::string, PathHandler> wildcardPathHandlers_;
  PluginClient* self_ = nullptr;
  const TypeRegistry* registry_ = nullptr;
  uint32_t hostCookie_ = 0;
  std::string shortName_;
  std::string userAgent_;
  std::unordered_map<std::string, EventCallable> handlers_;
  std::unordered_map<std::string, int64_t> subscriptionCounts_;
  using ProxyCallable = std::function<void(const PluginServiceProxyResponse&)>;
  void OnServiceProxyResponse(const Value& payload, int kind);
  std::map<std::string, PluginServiceProxyResponse> receivedResponses_;
  std::map<std::string, ProxyCallable> pendingRequests_;
  std::map<std::string, ProxyCallable> asyncHandlers_;
  std::mutex serviceProxyLock_;
  std::unordered_map<std::string, Timer> timers_;
  uint64_t lastTimerGeneration_ = 0;  // the generation of the latest AddTimer
  std::unordered_map<uint64_t, std::unique_ptr<ScheduledCall>> scheduledCallbacks_;
  uint64_t nextScheduledId_ = 1;
  std::mutex scheduledLock_;
};

// Monotonic clock in nanoseconds.
int64_t SteadyNanoseconds();

template <typename T>
std::string PluginClient::ConvertInto(const Value& data, T& out, const char* name) const {
  if (registry_ == nullptr) return "no type registry";
  ValueResult result;
  NativeCodec<T>().NativeFromValue(result, &out, data, name, registry_->FindType(TypeIdOf<T>()),
                                   *registry_, 0);
  return std::string(result.ErrorText());
}

template <typename T>
void PluginClient::Subscribe(const std::string& path,
                             std::function<void(const TypedResourceEvent<T>&)> handler) {
  auto wrapped = [this, handler](const PluginResourceEvent& event) {
    TypedResourceEvent<T> typed;
    typed.uri = event.uri;
    typed.eventType = event.eventType;
    if (event.eventType != PluginResourceEventType::Delete && !ConvertData(event.data, typed.data)) return;
    handler(typed);
  };
  StorePathHandler(path, wrapped);
  Subscribe(path);
  if (path.find('*') != std::string::npos) return;
  auto [state, failure] = RequestValue(HostMethodGet, path);
  if (failure) return;
  auto found = exactPathHandlers_.find(path);
  if (found == exactPathHandlers_.end()) return;
  PluginResourceEvent initial;
  initial.uri = path;
  initial.eventType = PluginResourceEventType::Create;
  initial.data.Swap(state);
  PathHandler run = found->second;
  run(initial);
}

template <typename T>
std::pair<T, RequestResult> PluginClient::RequestTyped(uint32_t method, const std::string& path) {
  std::pair<T, RequestResult> answer;
  auto [value, failure] = RequestValue(method, path);
  if (failure) {
    answer.second = std::move(failure);
    return answer;
  }
  std::string error = ConvertInto(value, answer.first, "<result>");
  if (!error.empty()) answer.second = ConversionError(method, path, error);
  return answer;
}

template <typename T>
RequestResult PluginClient::RequestRecord(uint32_t method, const std::string& path, const T& record) {
  std::string conversionError;
  ValueResult converted;
  if (registry_ == nullptr) {
    conversionError = "no type registry";
  } else {
    NativeCodec<T>().NativeToValue(converted, &record, registry_->FindType(TypeIdOf<T>()), *registry_);
    if (!converted.Ok()) conversionError = std::string(converted.ErrorText());
  }
  return Send(method, path, conversionError.empty() ? &converted.value() : nullptr, conversionError, nullptr);
}

template <typename T>
void PluginClient::PublishResourceEvent(PluginResourceEventType type, const std::string& uri,
                                        const T& record) {
  if (registry_ == nullptr) return;
  ValueResult converted;
  NativeCodec<T>().NativeToValue(converted, &record, registry_->FindType(TypeIdOf<T>()), *registry_);
  if (!converted.Ok()) return;
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = type;
  event.data.Swap(converted.value());
  SendEvent("OnJsonApiEvent", event);
}

}  // namespace qmx
