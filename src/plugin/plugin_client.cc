#include "plugin/plugin_client.h"

#include <algorithm>
#include <chrono>
#include <strings.h>

#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "plugin/event_paths.h"
#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"
#include "plugin/interface/host_value.h"
#include "plugin/messages/message_format.h"
#include "plugin/named_message.h"
#include "routing/http.h"
#include "serialization/json.h"

namespace qmx {
namespace {

std::string MethodName(uint32_t method) {
  return std::string(HttpMethodName(HttpMethodFromHost(static_cast<int32_t>(method))));
}

// A RequestError from one of the "{method} {url}: {error}" templates.
RequestError NamedError(int32_t code, const char* format, uint32_t method, const std::string& url,
                        std::string_view error) {
  Value values[3];
  values[0].SetString(MethodName(method));
  values[1].SetString(url);
  values[2].SetString(error);
  NamedMessage named = FormatNamed(format, values);
  RequestError failure;
  failure.code = code;
  failure.message = std::move(named.text);
  failure.fields.Swap(named.fields);
  if (code != 0) failure.fields.Member("errorCode_int").SetSigned(code);
  return failure;
}

constexpr const char* kNotSent = "Request not sent: Error converting parameters for {method} {url}: {error}";
constexpr const char* kErrorResponse = "Error response for {method} {url}: {error}";
constexpr const char* kStreamError = "Error reading streamed response for {method} {url}: {error}";
constexpr const char* kConvertError = "Error converting response for {method} {url}: {error}";

// Runs an action when the scope ends, however it ends: an exception (an
// allocation that fails while an answer is read or an error is built) must
// not keep the host's records.
template <typename Action>
class AtScopeExit {
 public:
  explicit AtScopeExit(Action action) : action_(std::move(action)) {}
  ~AtScopeExit() { action_(); }
  AtScopeExit(const AtScopeExit&) = delete;
  AtScopeExit& operator=(const AtScopeExit&) = delete;

 private:
  Action action_;
};

// Gives a response record back to the host: its stream first, then the record.
void ReleaseHostResponse(HostResponse& response) {
  if (response.streamRelease != nullptr) response.streamRelease(response.streamContext);
  if (response.release != nullptr) response.release(&response);
}

constexpr uint32_t kStreamChunk = 4096;
// A total-length hint is only a hint: never reserve more than this up front.
constexpr uint64_t kMaxReserve = 16u << 20;

}  // namespace

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PluginClient::PluginClient() = default;
PluginClient::~PluginClient() = default;

void PluginClient::Attach(uint32_t hostCookie, std::string shortName, std::string userAgent) {
  hostCookie_ = hostCookie;
  shortName_ = std::move(shortName);
  userAgent_ = std::move(userAgent);
  subscriberRegistry_ = registry_;
  self_ = this;
  const char* const proxyEvents[] = {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                     "OnServiceProxyAsyncEvent"};
  for (int kind = 0; kind < 3; ++kind) {
    RegisterHandler(proxyEvents[kind], [this, kind](const Value& payload) { OnServiceProxyResponse(payload, kind); }, 1);
  }
}

void PluginClient::OnServiceProxyResponse(const Value& payload, int kind) {
  PluginServiceProxyResponse response;
  if (!ConvertData(payload, response)) return;
  std::string methodKey = FormatMessage("%1.%2", response.serviceName, response.methodName);
  if (kind == 2) {
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
    receivedResponses_[kind == 0 ? response.uuid : methodKey] = response;
  }
  FulfillServiceProxyRequests();
}

void PluginClient::FulfillServiceProxyRequests() {
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

std::future<RequestResult> PluginClient::SendTelemetry(const std::string& eventName, const Value& parameters) {
  std::promise<RequestResult> promise;
  promise.set_value(Request(HostMethodPost, "/telemetry/v1/events/" + eventName, parameters));
  return promise.get_future();
}

void PluginClient::RegisterHandler(const std::string& eventName, EventCallable callable, int32_t flag) {
  handlers_[eventName] = std::move(callable);
  SubscribeEvent(eventName.c_str(), hostCookie_, &PluginClient::OnHostEvent, this, flag);
}

void PluginClient::Subscribe(const std::string& path) {
  std::string name = EventNameForPath(path);
  if (++subscriptionCounts_[name] != 1) return;
  RegisterHandler(name, [this](const Value& payload) {
    PluginResourceEvent event;
    if (!ConvertData(payload, event)) return;  // a payload of the wrong shape is dropped
    DispatchPath(event);
  }, 0);
}

void PluginClient::Unsubscribe(const std::string& path) {
  std::string name = EventNameForPath(path);
  auto found = subscriptionCounts_.find(name);
  if (found == subscriptionCounts_.end() || found->second <= 0) return;
  if (found->second-- != 1) return;
  UnsubscribeEvent(name.c_str(), hostCookie_);
  handlers_.erase(name);
}

void PluginClient::StorePathHandler(const std::string& path, PathHandler handler) {
  auto& table = path.find('*') != std::string::npos ? wildcardPathHandlers_ : exactPathHandlers_;
  table[path] = std::move(handler);
}

void PluginClient::OnHostEvent(HostEvent* event) {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* client = static_cast<PluginClient*>(event->context);
  try {
    auto found = client->handlers_.find(event->name);
    if (found == client->handlers_.end()) return;
    ValueResult payload = ToValue(event->payload, "<result>");
    if (!payload.Ok()) return;
    EventCallable callable = found->second;  // the handler may replace its own entry
    callable(payload.value());
  } catch (const std::exception&) {
    // Nothing escapes into the host; the event is dropped.
  }
}

void PluginClient::DispatchPath(const PluginResourceEvent& incoming) {
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
  std::vector<PathHandler> matching;
  for (const auto& [pattern, handler] : wildcardPathHandlers_) {
    if (MatchPathPattern(pattern, event->uri)) matching.push_back(handler);
  }
  for (const PathHandler& run : matching) run(*event);
}

void PluginClient::Shutdown() {
  std::vector<std::string> names;
  for (const auto& entry : handlers_) names.push_back(entry.first);
  for (const std::string& name : names) UnsubscribeEvent(name.c_str(), hostCookie_);
  handlers_.clear();
  {
    std::lock_guard<std::mutex> lock(serviceProxyLock_);
    receivedResponses_.clear();
    pendingRequests_.clear();
    asyncHandlers_.clear();
  }
  timers_.clear();
  exactPathHandlers_.clear();
  wildcardPathHandlers_.clear();
}

RequestResult PluginClient::Send(uint32_t method, const std::string& path, const Value* parameters,
                                 const std::string& conversionError, HostResponse* keep) {
  if (!conversionError.empty()) {
    return NamedError(400, kNotSent, method, path, conversionError);
  }
  HostArgument argument{};
  AtScopeExit releaseArgument([&] { Release(argument.value); });
  if (parameters != nullptr && !FromValue(*parameters, argument.value, registry_)) {
    return NamedError(400, kNotSent, method, path,
                      "the parameters could not be converted");
  }
  HostRequest request{};
  request.method = method;
  request.target = path.c_str();
  request.arguments = parameters != nullptr ? &argument : nullptr;
  request.argumentCount = parameters != nullptr ? 1 : 0;
  request.requestId = hostCookie_;
  HostResponse local{};
  HostResponse* response = keep != nullptr ? keep : &local;
  std::memset(static_cast<void*>(response), 0, sizeof *response);
  // A kept response is released by the caller's own guard.
  AtScopeExit releaseResponse([&] {
    if (keep == nullptr) ReleaseHostResponse(*response);
  });
  CallJsonApi(response, &request);
  RequestResult result;
  if (response->error != nullptr) {
    result = NamedError(static_cast<int32_t>(response->status), kErrorResponse, method, path,
                        response->error);
  }
  return result;
}

RequestResult PluginClient::Request(uint32_t method, const std::string& path) {
  return Send(method, path, nullptr, {}, nullptr);
}

RequestResult PluginClient::Request(uint32_t method, const std::string& path, const Value& parameters) {
  // Parameters travel as one structure of named members. An Empty value
  // names none; anything else would be lost in the conversion, so it is
  // refused before anything is sent.
  if (parameters.IsEmpty()) {
    Value structure;
    structure.MakeStructure();
    return Send(method, path, &structure, {}, nullptr);
  }
  if (parameters.Kind() != ValueKind::Structure) {
    return Send(method, path, nullptr,
                FormatMessage("the parameters must be a structure, not a value of kind '%1'",
                              KindName(parameters.Kind())),
                nullptr);
  }
  return Send(method, path, &parameters, {}, nullptr);
}

std::pair<Value, RequestResult> PluginClient::RequestValue(uint32_t method, const std::string& path) {
  std::pair<Value, RequestResult> answer;
  HostResponse response{};
  AtScopeExit releaseResponse([&] { ReleaseHostResponse(response); });
  answer.second = Send(method, path, nullptr, {}, &response);
  if (!answer.second) {
    if (response.streamRead != nullptr) {
      std::string text;
      uint64_t hint = response.totalLength & 0xFFFFFFFFu;
      text.reserve(static_cast<size_t>(std::min(hint, kMaxReserve)));
      bool more = true;
      bool failed = false;
      std::vector<uint8_t> buffer(kStreamChunk);
      while (more) {
        uint32_t size = kStreamChunk;
        if (!response.streamRead(response.streamContext, buffer.data(), &size, &more)) {
          failed = true;
          break;
        }
        size = std::min(size, kStreamChunk);  // never read past what we handed over
        text.append(reinterpret_cast<const char*>(buffer.data()), size);
        if (size < kStreamChunk && more) {
          BeginWait("Wait: yield", 0);
          YieldThread();
          EndWait();
        }
      }
      if (failed) {
        answer.second = NamedError(0, kStreamError, method, path, "Stream read error");
      } else {
        ValueResult parsed = ReadJson(text);
        if (parsed.Ok()) {
          answer.first.Swap(parsed.value());
        } else {
          answer.second = NamedError(0, kStreamError, method, path, parsed.ErrorText());
        }
      }
    } else {
      ValueResult converted = ToValue(response.body, "<result>");
      if (converted.Ok()) {
        answer.first.Swap(converted.value());
      } else {
        answer.second = NamedError(0, kConvertError, method, path, converted.ErrorText());
      }
    }
  }
  return answer;
}

RequestError PluginClient::ConversionError(uint32_t method, const std::string& path, std::string_view error) {
  return NamedError(0, kConvertError, method, path, error);
}

RequestError PluginClient::NotFound(std::string_view message) {
  RequestError error;
  error.code = 404;
  error.message = message.empty() ? "Not found" : std::string(message);
  return error;
}

ExternalAnswer PluginClient::SendRequest(const ExternalRequestSpec& spec) {
  std::vector<HostHeader> headers;
  bool hasUserAgent = std::any_of(spec.headers.begin(), spec.headers.end(), [](const auto& header) {
    return header.first.size() == 10 && strncasecmp(header.first.c_str(), "user-agent", 10) == 0;
  });
  if (!hasUserAgent) headers.push_back({"user-agent", userAgent_.c_str()});
  for (const auto& [name, value] : spec.headers) headers.push_back({name.c_str(), value.c_str()});

  ExternalRequest request{};
  request.method = spec.method;
  request.url = spec.url.c_str();
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.body = reinterpret_cast<const uint8_t*>(spec.body.data());
  request.bodyLength = static_cast<uint32_t>(spec.body.size());
  request.setting1 = spec.setting1;
  request.setting2 = spec.setting2;
  ExternalResponse response{};
  AtScopeExit releaseResponse([&] {
    if (response.release != nullptr) response.release(&response);
  });
  SendExternalRequest(&response, &request);

  std::string description = FormatMessage("%1 %2", MethodName(spec.method), spec.url);
  ExternalAnswer answer;
  int32_t code = response.result;
  answer.resultCode = (code == -1 || code == 0 || code == 1 || code == 2) ? code : 1;
  if (answer.resultCode != 0) {
    if (response.body != nullptr) {
      answer.message.assign(reinterpret_cast<const char*>(response.body), response.bodyLength);
    }
  } else {
    answer.status = static_cast<int32_t>(response.status);
    answer.conversionFailed = 0;
    if (response.headerCount != 0 && response.headers == nullptr) {
      answer.conversionFailed = 1;
      answer.message = FormatMessage("Error converting response for %1: headers was null", description);
    } else {
      for (uint32_t i = 0; i < response.headerCount; ++i) {
        const HostHeader& header = response.headers[i];
        answer.headers[header.name != nullptr ? header.name : ""] = header.value != nullptr ? header.value : "";
      }
    }
    if (response.bodyLength != 0 && response.body == nullptr) {
      answer.conversionFailed = 1;
      answer.message = FormatMessage("Error converting response for %1: body was null", description);
    } else if (response.body != nullptr) {
      answer.body.assign(reinterpret_cast<const char*>(response.body), response.bodyLength);
    }
  }
  answer.reserved = -1;
  return answer;
}

std::pair<Value, RequestResult> PluginClient::GetInstallSetting(const std::string& name) {
  return RequestValue(HostMethodGet, "/data-store/v1/install-settings/" + name);
}

std::pair<Value, RequestResult> PluginClient::GetSystemSetting(const std::string& name) {
  return RequestValue(HostMethodGet, "/data-store/v1/system-settings/" + name);
}

RequestResult PluginClient::SendEvent(const std::string& name, const PluginResourceEvent& event) {
  if (registry_ == nullptr) return NotFound("no type registry");
  ValueResult converted;
  NativeCodec<PluginResourceEvent>().NativeToValue(converted, &event,
                                                   registry_->FindType(TypeIdOf<PluginResourceEvent>()),
                                                   *registry_);
  if (!converted.Ok()) {
    RequestError error;
    error.message = std::string(converted.ErrorText());
    return error;
  }
  HostEvent record{};
  if (!FromValue(converted.value(), record.payload, registry_)) {
    Release(record.payload);
    RequestError error;
    error.message = "the event could not be converted";
    return error;
  }
  std::string specific = EventNameForPath(event.uri);
  record.name = specific.c_str();
  FireEvent(&record);
  if (name != specific) {
    record.name = name.c_str();
    FireEvent(&record);
  }
  Release(record.payload);
  return std::nullopt;
}

void PluginClient::PublishResourceDeleted(const std::string& uri) {
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = PluginResourceEventType::Delete;
  SendEvent("OnJsonApiEvent", event);
}

void PluginClient::AddTimer(const std::string& name, double seconds, std::function<void()> callback) {
  Timer& timer = timers_[name];
  timer.name = name;
  timer.callback = std::move(callback);
  timer.interval = seconds;
  // Generations come from one counter for the whole plugin, not from the
  // entry: a removed timer's entry is gone, and a schedule of it still with
  // the host must not match the same name added again.
  uint64_t generation = ++lastTimerGeneration_;
  timer.generation = generation;
  timer.due = SteadyNanoseconds() + static_cast<int64_t>(seconds * 1e9);
  ScheduleHostCallback(FormatMessage("Timer: %1", name), [this, name, generation] { FireTimer(name, generation); }, timer.due);
}

void PluginClient::RemoveTimer(const std::string& name) { timers_.erase(name); }

void PluginClient::FireTimer(const std::string& name, uint64_t generation) {
  auto found = timers_.find(name);
  if (found == timers_.end()) {
    Log(kLogWarn, kCategoryDbg | kCategoryNet, "%s: Couldn't find timer named %s", shortName_.c_str(),
        name.c_str());
    return;
  }
  if (found->second.generation != generation) return;
  int64_t due = SteadyNanoseconds() + static_cast<int64_t>(found->second.interval * 1e9);
  std::function<void()> callback = found->second.callback;  // the callback may remove its timer
  callback();
  found = timers_.find(name);
  if (found != timers_.end() && found->second.generation == generation) {
    found->second.due = due;
    ScheduleHostCallback(FormatMessage("Timer: %1", name), [this, name, generation] { FireTimer(name, generation); }, due);
  }
}

void PluginClient::ScheduleHostCallback(const std::string& label, std::function<void()> callable, int64_t due) {
  double delay = static_cast<double>(due - SteadyNanoseconds()) * 1e-9;
  if (!(delay > 0)) delay = 0;
  ScheduledCall* entry;
  {
    std::lock_guard<std::mutex> lock(scheduledLock_);
    uint64_t id = nextScheduledId_++;
    auto call = std::make_unique<ScheduledCall>(ScheduledCall{this, id, std::move(callable)});
    entry = call.get();
    scheduledCallbacks_[id] = std::move(call);
  }
  ScheduleCallback(label.c_str(), &PluginClient::OnHostTimer, entry, delay, 0);
}

void PluginClient::OnHostTimer(void* context) {
  if (context == nullptr) return;
  auto* entry = static_cast<ScheduledCall*>(context);
  PluginClient* owner = entry->owner;
  uint64_t id = entry->id;
  try {
    entry->callable();
  } catch (const std::exception&) {
    // Nothing escapes into the host.
  }
  std::lock_guard<std::mutex> lock(owner->scheduledLock_);
  owner->scheduledCallbacks_.erase(id);
}

}  // namespace qmx
