#include "plugin/event_subscriptions.h"

#include <exception>
#include <vector>

#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"
#include "plugin/event_paths.h"
#include "interface/host_value.h"
#include "messages/message_format.h"

namespace qmx {

EventSubscriptions::EventSubscriptions(HostOperations& host, JsonApiClient& jsonApi,
                                       std::string shortName)
    : host_(host), jsonApi_(jsonApi), shortName_(std::move(shortName)) {}

EventSubscriptions::~EventSubscriptions() = default;

void EventSubscriptions::RegisterHandler(const std::string& eventName, EventCallable callable, int32_t flag) {
  handlers_[eventName] = std::move(callable);
  host_.SubscribeEvent(eventName.c_str(), host_.HostCookie(), &EventSubscriptions::OnHostEvent, this, flag);
}

void EventSubscriptions::Subscribe(const std::string& path) {
  std::string name = EventNameForPath(path);
  if (++subscriptionCounts_[name] != 1) return;
  RegisterHandler(name, [this](const Value& payload) {
    PluginResourceEvent event;
    if (!ConvertFromValue(jsonApi_.Registry(), payload, event, "<value>")) return;
    DispatchPath(event);
  }, 0);
}

void EventSubscriptions::Unsubscribe(const std::string& path) {
  std::string name = EventNameForPath(path);
  auto found = subscriptionCounts_.find(name);
  if (found == subscriptionCounts_.end() || found->second <= 0) return;
  if (found->second-- != 1) return;
  host_.UnsubscribeEvent(name.c_str(), host_.HostCookie());
  handlers_.erase(name);
}

void EventSubscriptions::StorePathHandler(const std::string& path, PathHandler handler) {
  auto& table = path.find('*') != std::string::npos ? wildcardPathHandlers_ : exactPathHandlers_;
  table[path] = std::move(handler);
}

void EventSubscriptions::OnHostEvent(HostEvent* event) {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* subscriptions = static_cast<EventSubscriptions*>(event->context);
  try {
    auto found = subscriptions->handlers_.find(event->name);
    if (found == subscriptions->handlers_.end()) return;
    ValueResult payload = ToValue(event->payload, "<result>");
    if (!payload.Ok()) return;
    EventCallable callable = found->second;  // the handler may replace its own entry
    callable(payload.value());
  } catch (const std::exception&) {
    // Nothing escapes into the host; the event is dropped.
  }
}

void EventSubscriptions::DispatchPath(const PluginResourceEvent& incoming) {
  const PluginResourceEvent* event = &incoming;
  PluginResourceEvent rooted;
  if (incoming.uri.empty() || incoming.uri[0] != '/') {
    rooted.uri = "/" + incoming.uri;
    rooted.eventType = incoming.eventType;
    rooted.data.Assign(incoming.data);
    event = &rooted;
  }
  auto exact = exactPathHandlers_.find(event->uri);
  if (exact != exactPathHandlers_.end()) {
    PathHandler run = exact->second;
    run(*event);
  }
  // The handlers may change the table: collect first, then run.
  std::vector<PathHandler> matching;
  for (const auto& [pattern, handler] : wildcardPathHandlers_) {
    if (MatchPathPattern(pattern, event->uri)) matching.push_back(handler);
  }
  for (const PathHandler& run : matching) run(*event);
}

RequestResult<> EventSubscriptions::SendEvent(const std::string& name, const PluginResourceEvent& event) {
  const TypeRegistry* registry = jsonApi_.Registry();
  if (registry == nullptr) return NotFound("no type registry");
  Result<Value, std::string> converted = ConvertToValue(registry, event);
  if (!converted) {
    RequestError error;
    error.message = std::move(converted).error();
    return Fail(std::move(error));
  }
  HostEvent record{};
  if (!FromValue(converted.value(), record.payload, registry)) {
    Release(record.payload);
    RequestError error;
    error.message = "the event could not be converted";
    return Fail(std::move(error));
  }
  std::string specific = EventNameForPath(event.uri);
  record.name = specific.c_str();
  host_.FireEvent(&record);
  if (name != specific) {
    record.name = name.c_str();
    host_.FireEvent(&record);
  }
  Release(record.payload);
  return {};
}

void EventSubscriptions::PublishResourceDeleted(const std::string& uri) {
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = PluginResourceEventType::Delete;
  (void)SendEvent("OnJsonApiEvent", event);  // a publication has no one to report to
}

void EventSubscriptions::Clear() {
  std::vector<std::string> names;
  for (const auto& entry : handlers_) names.push_back(entry.first);
  for (const std::string& name : names) host_.UnsubscribeEvent(name.c_str(), host_.HostCookie());
  handlers_.clear();
  {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    receivedResponses_.clear();
    pendingRequests_.clear();
    asyncHandlers_.clear();
  }
  exactPathHandlers_.clear();
  wildcardPathHandlers_.clear();
}

void EventSubscriptions::SubscribeServiceProxy() {
  RegisterHandler("OnServiceProxyUuidEvent",
                  [this](const Value& payload) { OnServiceProxyResponse(payload, ProxyKind::kUuid); }, 1);
  RegisterHandler("OnServiceProxyMethodEvent",
                  [this](const Value& payload) { OnServiceProxyResponse(payload, ProxyKind::kMethod); }, 1);
  RegisterHandler("OnServiceProxyAsyncEvent",
                  [this](const Value& payload) { OnServiceProxyResponse(payload, ProxyKind::kAsync); }, 1);
}

void EventSubscriptions::OnServiceProxyResponse(const Value& payload, ProxyKind kind) {
  PluginServiceProxyResponse response;
  if (!ConvertFromValue(jsonApi_.Registry(), payload, response, "<value>")) return;
  std::string methodKey = FormatMessage("%1.%2", response.serviceName, response.methodName);
  if (kind == ProxyKind::kAsync) {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    auto found = asyncHandlers_.find(methodKey);
    if (found != asyncHandlers_.end()) {
      found->second(response);
    } else {
      Log(kLogError, kCategoryDbg, "%s: Could not find registered handler for async service proxy event %s",
          shortName_.c_str(), methodKey.c_str());
    }
    return;
  }
  {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    receivedResponses_[kind == ProxyKind::kUuid ? response.uuid : methodKey] = response;
  }
  FulfillServiceProxyRequests();
}

void EventSubscriptions::FulfillServiceProxyRequests() {
  std::lock_guard<std::mutex> lock(serviceProxyLock_);
  for (auto received = receivedResponses_.begin(); received != receivedResponses_.end();) {
    auto pending = pendingRequests_.find(received->first);
    if (pending == pendingRequests_.end()) {
      ++received;
      continue;
    }
    PluginServiceProxyResponse copy = received->second;
    pending->second(copy);
    Log(kLogAlways, kCategoryDbg, "%s: Fulfilled service proxy request: %s", shortName_.c_str(),
        received->first.c_str());
    pendingRequests_.erase(pending);
    received = receivedResponses_.erase(received);
  }
}

std::optional<PluginServiceProxyResponse> EventSubscriptions::ReceivedServiceProxyResponse(
    const std::string& key) {
  std::lock_guard<std::mutex> lock(serviceProxyLock_);
  auto found = receivedResponses_.find(key);
  if (found == receivedResponses_.end()) return std::nullopt;
  return found->second;
}

size_t EventSubscriptions::ReceivedServiceProxyResponseCount() {
  std::lock_guard<std::mutex> lock(serviceProxyLock_);
  return receivedResponses_.size();
}

}  // namespace qmx
