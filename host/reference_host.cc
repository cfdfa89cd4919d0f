#include "reference_host.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "external_http.h"
#include "host_text.h"
#include "plugin/event_paths.h"
#include "interface/host_value.h"
#include "serialization/json.h"

namespace qmx::host {
namespace {

constexpr const char* kInstallSettings = "/data-store/v1/install-settings/";
constexpr const char* kSystemSettings = "/data-store/v1/system-settings/";
// A scheduled callback further away than this is held at this delay.
constexpr double kMaxDelaySeconds = 24 * 3600;

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

// The release function of responses the host fills.
void ReleaseHostResponse(HostResponse* response) {
  if (response == nullptr) return;
  Release(response->body);
  if (response->errorOwned != 0) std::free(const_cast<char*>(response->error));
  response->error = nullptr;
  response->errorOwned = 0;
}

void FillResponse(HostResponse& response, const ApiAnswer& answer) {
  response.status = answer.status;
  response.contentType = "application/json";
  response.release = &ReleaseHostResponse;
  if (!answer.Ok()) {
    response.error = CopyText(answer.error);
    response.errorOwned = 1;
    return;
  }
  FromValue(answer.body, response.body);
}

ApiAnswer Failure(uint32_t status, std::string error) {
  ApiAnswer answer;
  answer.status = status;
  answer.error = std::move(error);
  return answer;
}

// Reads a streamed endpoint answer to its end.
Result<std::string, std::string> ReadStream(HostResponse& response) {
  std::string text;
  bool more = true;
  uint8_t buffer[4096];
  while (more) {
    uint32_t size = sizeof buffer;
    if (!response.streamRead(response.streamContext, buffer, &size, &more)) {
      return Fail(std::string("the endpoint's stream failed"));
    }
    text.append(reinterpret_cast<const char*>(buffer), std::min<uint32_t>(size, sizeof buffer));
  }
  return text;
}

}  // namespace

const char* MethodName(uint32_t method) {
  static const char* const kNames[] = {"NONE", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", "CALL"};
  return method < std::size(kNames) ? kNames[method] : "?";
}

ReferenceHost::ReferenceHost() : ReferenceHost(Options{}) {}

ReferenceHost::ReferenceHost(Options options) : options_(options) {
  table_.api = HostApi{&CallJsonApiSlot,  &SendExternalRequestSlot, &FireEventSlot, &SubscribeEventSlot,
                       &UnsubscribeEventSlot, &ScheduleCallbackSlot, &YieldThreadSlot, &BeginWaitSlot,
                       &EndWaitSlot,      &WriteLogSlot};
  table_.owner = this;
  handle_.api = &table_.api;
  handle_.hostCookie = options_.hostCookie;
}

ReferenceHost::~ReferenceHost() { Stop(); }

ReferenceHost& ReferenceHost::From(const HostApi* api) {
  // The table is the first member of Table, followed by its owner.
  return *reinterpret_cast<const Table*>(api)->owner;
}

void ReferenceHost::Seed(const std::string& path, const Value& value) {
  queue_.Call([&] { resources_[path].Assign(value); });
}

Result<void, std::string> ReferenceHost::SeedFromConfig(const Value& config) {
  if (config.Kind() != ValueKind::Structure) return Fail("the configuration must be a mapping of sections");
  for (size_t i = 0; i < config.Size(); ++i) {
    std::string section(config.MemberName(i));
    const Value& entries = config.MemberValue(i);
    const char* prefix = section == "install-settings" ? kInstallSettings
                         : section == "system-settings" ? kSystemSettings
                         : section == "resources"       ? ""
                                                        : nullptr;
    if (prefix == nullptr) {
      return Fail("unknown section '" + section + "' (expected install-settings, system-settings or resources)");
    }
    if (entries.Kind() != ValueKind::Structure) return Fail("section '" + section + "' must be a mapping");
    for (size_t j = 0; j < entries.Size(); ++j) {
      std::string name(entries.MemberName(j));
      if (*prefix == '\0' && !name.starts_with('/')) return Fail("resource path '" + name + "' must start with '/'");
      Seed(prefix + name, entries.MemberValue(j));
    }
  }
  return {};
}

Result<void, std::string> ReferenceHost::Start(PluginModule& plugin, uint32_t major, uint32_t minor,
                                                uint32_t patch) {
  Stop();
  return queue_.Call([&]() -> Result<void, std::string> {
    if (!plugin.Load(major, minor, patch)) {
      return Fail("the plugin refused host version " + std::to_string(major) + "." + std::to_string(minor) +
                  "." + std::to_string(patch));
    }
    plugin_ = &plugin;
    ++epoch_;
    running_ = true;
    if (!plugin.Initialize(&handle_)) {
      plugin.Shutdown();
      running_ = false;
      return Fail("the plugin's Initialize failed");
    }
    return {};
  });
}

void ReferenceHost::Stop() {
  queue_.Call([&] {
    if (!running_) return;
    running_ = false;
    plugin_->Shutdown();
    subscribers_.clear();
  });
}

MemoryStats ReferenceHost::Memory() {
  return queue_.Call([&] { return plugin_ != nullptr ? plugin_->Memory() : MemoryStats{}; });
}

ApiAnswer ReferenceHost::Call(uint32_t method, const std::string& target, const Value* body) {
  return queue_.Call([&] { return Serve(method, target, body); });
}

ApiAnswer ReferenceHost::Serve(uint32_t method, const std::string& target, const Value* body) {
  if (target.empty() || target[0] != '/') return Failure(400, "the target must start with '/'");
  if (running_) {
    if (const ApiFunctionEntry* entry = plugin_->FindEndpoint(method, target))
      return CallEndpoint(*entry, method, target, body);
  }
  std::string path = PathOf(target);
  auto found = resources_.find(path);
  switch (method) {
    case HostMethodGet:
    case HostMethodHead: {
      if (found == resources_.end()) return Failure(404, "No resource at " + path);
      ApiAnswer answer;
      answer.body.Assign(found->second);
      return answer;
    }
    case HostMethodPut:
    case HostMethodPost: {
      bool existed = found != resources_.end();
      Value& stored = resources_[path];
      if (body != nullptr) {
        stored.Assign(*body);
      } else {
        stored.Reset();
      }
      AnnounceChange(path, existed ? "Update" : "Create", &stored);
      ApiAnswer answer;
      answer.status = existed ? 200 : 201;
      answer.body.Assign(stored);
      return answer;
    }
    case HostMethodDelete: {
      if (found == resources_.end()) return Failure(404, "No resource at " + path);
      resources_.erase(found);
      AnnounceChange(path, "Delete", nullptr);
      ApiAnswer answer;
      return answer;
    }
    default:
      return Failure(405, std::string("Method ") + MethodName(method) + " is not served for " + path);
  }
}

ApiAnswer ReferenceHost::CallEndpoint(const ApiFunctionEntry& entry, uint32_t method,
                                      const std::string& target, const Value* body) {
  HostArgument argument{};
  HostRequest request{};
  request.method = method;
  request.target = target.c_str();
  request.functionContext = entry.context;
  request.requestId = options_.hostCookie;
  if (body != nullptr && !body->IsEmpty()) {
    FromValue(*body, argument.value);
    request.arguments = &argument;
    request.argumentCount = 1;
  }
  HostResponse response{};
  entry.entry(&response, &request);
  Release(argument.value);

  ApiAnswer answer;
  answer.status = response.status != 0 ? response.status : 200;
  if (response.error != nullptr) {
    answer.error = response.error;
    if (answer.error.empty()) answer.error = "error";
  } else if (response.streamRead != nullptr) {
    Result<std::string, std::string> text = ReadStream(response);
    if (!text) {
      answer = Failure(502, text.error());
    } else {
      ValueResult parsed = ReadJson(text.value());
      if (parsed.Ok()) {
        answer.body.Swap(parsed.value());
      } else {
        answer.body.SetString(text.value());
      }
    }
  } else {
    ValueResult converted = ToValue(response.body, "<result>");
    if (converted.Ok()) {
      answer.body.Swap(converted.value());
    } else {
      answer = Failure(502, "the endpoint's answer is unreadable: " + std::string(converted.ErrorText()));
    }
  }
  if (response.streamRelease != nullptr) response.streamRelease(response.streamContext);
  if (response.release != nullptr) response.release(&response);
  return answer;
}

void ReferenceHost::AnnounceChange(const std::string& path, const char* eventType, const Value* data) {
  auto event = std::make_shared<Value>();
  event->Member("uri").SetString(path);
  event->Member("eventType").SetString(eventType);
  if (data != nullptr) event->Member("data").Assign(*data);
  std::string name = EventNameForPath(path);
  queue_.Post([this, name, event] { Deliver(name, event); });
  if (name != "OnJsonApiEvent") queue_.Post([this, event] { Deliver("OnJsonApiEvent", event); });
}

void ReferenceHost::Deliver(const std::string& name, std::shared_ptr<Value> payload) {
  if (!running_) return;
  auto found = subscribers_.find(name);
  if (found == subscribers_.end()) return;
  // A callback may subscribe or unsubscribe: deliver to the subscribers of now.
  std::vector<Subscriber> current = found->second;
  for (const Subscriber& subscriber : current) {
    if (!running_) return;
    HostValue record{};
    FromValue(*payload, record);
    HostEvent event{};
    event.name = name.c_str();
    event.payload = record;
    event.context = subscriber.context;
    subscriber.callback(&event);
    Release(record);
  }
}

// ---- The HostApi slots (called by the plugin, on the plugin thread) ----

void ReferenceHost::CallJsonApiSlot(const HostApi* api, HostResponse* response, HostRequest* request) {
  if (response == nullptr) return;
  ReferenceHost& host = From(api);
  if (request == nullptr || request->target == nullptr) {
    FillResponse(*response, Failure(400, "the request has no target"));
    return;
  }
  std::string target = request->target;
  if (host.onPluginRequest) host.onPluginRequest(request->method, target);
  if (host.running_) {
    if (const ApiFunctionEntry* entry = host.plugin_->FindEndpoint(request->method, target)) {
      // The plugin calls one of its own endpoints: pass the request through.
      HostRequest forwarded = *request;
      forwarded.functionContext = entry->context;
      entry->entry(response, &forwarded);
      return;
    }
  }
  Value body;
  if (request->argumentCount != 0 && request->arguments != nullptr) {
    ValueResult converted = ToValue(request->arguments[0].value, "<body>");
    if (!converted.Ok()) {
      FillResponse(*response, Failure(400, std::string(converted.ErrorText())));
      return;
    }
    body.Swap(converted.value());
  } else if (request->bodyLength != 0 && request->body != nullptr) {
    ValueResult parsed = ReadJson(std::string_view(reinterpret_cast<const char*>(request->body), request->bodyLength));
    if (!parsed.Ok()) {
      FillResponse(*response, Failure(400, std::string(parsed.ErrorText())));
      return;
    }
    body.Swap(parsed.value());
  }
  bool hasBody = !body.IsEmpty() || request->argumentCount != 0;
  FillResponse(*response, host.Serve(request->method, target, hasBody ? &body : nullptr));
}

void ReferenceHost::SendExternalRequestSlot(const HostApi* api, ExternalResponse* response,
                                            ExternalRequest* request) {
  if (response == nullptr || request == nullptr) return;
  ReferenceHost& host = From(api);
  ExternalCallRecord record = PerformExternalRequest(*request, *response, host.options_.externalTimeoutSeconds);
  if (host.onExternalCall) host.onExternalCall(record);
}

void ReferenceHost::FireEventSlot(const HostApi* api, HostEvent* event) {
  if (event == nullptr || event->name == nullptr) return;
  ReferenceHost& host = From(api);
  ValueResult payload = ToValue(event->payload, "<payload>");
  if (!payload.Ok()) return;
  auto shared = std::make_shared<Value>();
  shared->Swap(payload.value());
  std::string name = event->name;
  if (host.onPluginEvent) host.onPluginEvent(name, *shared);
  host.queue_.Post([&host, name, shared] { host.Deliver(name, shared); });
}

void ReferenceHost::SubscribeEventSlot(const HostApi* api, const char* eventName, uint32_t hostCookie,
                                       HostEventCallback callback, void* callbackContext, int32_t) {
  if (eventName == nullptr || callback == nullptr) return;
  From(api).subscribers_[eventName].push_back(Subscriber{hostCookie, callback, callbackContext});
}

void ReferenceHost::UnsubscribeEventSlot(const HostApi* api, const char* eventName, uint32_t hostCookie) {
  if (eventName == nullptr) return;
  ReferenceHost& host = From(api);
  auto found = host.subscribers_.find(eventName);
  if (found == host.subscribers_.end()) return;
  std::erase_if(found->second, [&](const Subscriber& s) { return s.cookie == hostCookie; });
  if (found->second.empty()) host.subscribers_.erase(found);
}

void ReferenceHost::ScheduleCallbackSlot(const HostApi* api, const char*, HostTimerCallback callback,
                                         void* callbackContext, double delaySeconds, int32_t) {
  if (callback == nullptr) return;
  ReferenceHost& host = From(api);
  if (!(delaySeconds > 0)) delaySeconds = 0;  // NaN and negative delays run at once
  delaySeconds = std::min(delaySeconds, kMaxDelaySeconds);
  auto due = WorkQueue::Clock::now() + std::chrono::duration_cast<WorkQueue::Clock::duration>(
                                           std::chrono::duration<double>(delaySeconds));
  uint64_t epoch = host.epoch_;
  host.queue_.PostAt(due, [&host, callback, callbackContext, epoch] {
    // A plugin that has shut down must not be called again.
    if (host.running_ && host.epoch_ == epoch) callback(callbackContext);
  });
}

void ReferenceHost::YieldThreadSlot(const HostApi*) { std::this_thread::yield(); }

void ReferenceHost::BeginWaitSlot(const HostApi*, const char*, int32_t) {}

void ReferenceHost::EndWaitSlot(const HostApi*) {}

void ReferenceHost::WriteLogSlot(const HostApi* api, int32_t level, const char* message) {
  if (message == nullptr) return;
  ReferenceHost& host = From(api);
  std::string line = message;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (host.onLog) {
    host.onLog(level, line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace qmx::host
