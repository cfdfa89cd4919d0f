// EventSubscriptions: subscriptions to the host's events and their dispatch,
// publication of the plugin's own resource changes, and the three
// service-proxy events.
//
// Resource paths map to host event names (EventNameForPath); paths that share
// a name share one host subscription, counted. A host event runs the handler
// registered for its name; a resource event is then dispatched by its uri to
// the typed handler of that exact path and to every wildcard pattern ("*"
// within one segment) that matches it. Payloads or data that do not convert
// are dropped without a log line.
//
// Thread safety: only the service-proxy tables are locked (one mutex, held
// while a pending or async callable runs). Subscriptions and handlers are
// not: subscription changes must not run concurrently with event delivery.
// Handlers may call back into the host.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "binding/value.h"
#include "plugin/host_operations.h"
#include "plugin/host_types.h"
#include "interface/host_api.h"
#include "plugin/json_api_client.h"
#include "routing/request_error.h"

namespace qmx {

// A resource event whose data has the native type T.
template <typename T>
struct TypedResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  T data{};
};

class EventSubscriptions {
 public:
  using EventCallable = std::function<void(const Value& payload)>;
  using PathHandler = std::function<void(const PluginResourceEvent& event)>;

  // host carries the subscriptions and publications and is told of every
  // typed subscription through its Subscribe; jsonApi fetches a resource's
  // current state and lends its registry to the conversions. Both must
  // outlive this object. shortName prefixes the log lines.
  EventSubscriptions(HostOperations& host, JsonApiClient& jsonApi, std::string shortName);
  ~EventSubscriptions();
  EventSubscriptions(const EventSubscriptions&) = delete;
  EventSubscriptions& operator=(const EventSubscriptions&) = delete;

  // Reference-counted host subscription for the path's event name.
  void Subscribe(const std::string& path);
  // The reverse; the last Unsubscribe of a name ends its host subscription.
  void Unsubscribe(const std::string& path);

  // Registers a typed handler for path (exact, or a pattern with "*") and
  // subscribes; an exact path first gets its current state as a Create event
  // (none when that request fails).
  template <typename T>
  void Subscribe(const std::string& path, std::function<void(const TypedResourceEvent<T>&)> handler);

  // Sets the handler of the host event eventName (replacing one) and
  // subscribes at the host with flag.
  void RegisterHandler(const std::string& eventName, EventCallable callable, int32_t flag);

  // Publishes a change of one of the plugin's resources; a record that does
  // not convert is not published.
  template <typename T>
  void PublishResourceEvent(PluginResourceEventType type, const std::string& uri, const T& record);
  void PublishResourceDeleted(const std::string& uri);
  // Fires the event under the uri's event name and, when name differs, again
  // under name.
  RequestResult<> SendEvent(const std::string& name, const PluginResourceEvent& event);

  // Subscribes the three service-proxy events (flag 1). Received responses
  // are kept one per key (a uuid, or "service.method") until a pending
  // request takes them.
  void SubscribeServiceProxy();
  // Matches received service-proxy responses with pending requests.
  void FulfillServiceProxyRequests();
  // The response kept under key, if any, and how many are kept.
  std::optional<PluginServiceProxyResponse> ReceivedServiceProxyResponse(const std::string& key);
  size_t ReceivedServiceProxyResponseCount();

  // Shutdown: unsubscribes every event name that has a handler at the host
  // and clears the handler, service-proxy and path tables. The subscription
  // counts are kept.
  void Clear();

 private:
  using ProxyCallable = std::function<void(const PluginServiceProxyResponse&)>;
  enum class ProxyKind { kUuid, kMethod, kAsync };

  static void OnHostEvent(HostEvent* event);
  void DispatchPath(const PluginResourceEvent& event);
  void StorePathHandler(const std::string& path, PathHandler handler);
  void OnServiceProxyResponse(const Value& payload, ProxyKind kind);

  HostOperations& host_;
  JsonApiClient& jsonApi_;
  std::string shortName_;
  std::unordered_map<std::string, PathHandler> exactPathHandlers_;
  std::unordered_map<std::string, PathHandler> wildcardPathHandlers_;
  std::unordered_map<std::string, EventCallable> handlers_;
  std::unordered_map<std::string, int64_t> subscriptionCounts_;
  std::map<std::string, PluginServiceProxyResponse> receivedResponses_;
  std::map<std::string, ProxyCallable> pendingRequests_;
  std::map<std::string, ProxyCallable> asyncHandlers_;
  std::mutex serviceProxyLock_;
};

template <typename T>
void EventSubscriptions::Subscribe(const std::string& path,
                                   std::function<void(const TypedResourceEvent<T>&)> handler) {
  auto wrapped = [this, handler](const PluginResourceEvent& event) {
    TypedResourceEvent<T> typed;
    typed.uri = event.uri;
    typed.eventType = event.eventType;
    // A Delete carries no data: the handler gets a default T.
    if (event.eventType != PluginResourceEventType::Delete &&
        !ConvertFromValue(jsonApi_.Registry(), event.data, typed.data, "<value>")) {
      return;
    }
    handler(typed);
  };
  StorePathHandler(path, wrapped);
  host_.Subscribe(path);
  if (path.find('*') != std::string::npos) return;
  RequestResult<Value> state = jsonApi_.RequestValue(HostMethodGet, path);
  if (!state) return;
  auto found = exactPathHandlers_.find(path);
  if (found == exactPathHandlers_.end()) return;
  PluginResourceEvent initial;
  initial.uri = path;
  initial.eventType = PluginResourceEventType::Create;
  initial.data.Swap(state.value());
  PathHandler run = found->second;
  run(initial);
}

template <typename T>
void EventSubscriptions::PublishResourceEvent(PluginResourceEventType type, const std::string& uri,
                                              const T& record) {
  Result<Value, std::string> converted = ConvertToValue(jsonApi_.Registry(), record);
  if (!converted) return;
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = type;
  event.data.Swap(converted.value());
  (void)SendEvent("OnJsonApiEvent", event);  // a publication has no one to report to
}

}  // namespace qmx
