#include "support/test_host.h"

#include <cstddef>

#include "plugin/event_paths.h"
#include "interface/host_value.h"
#include "serialization/json.h"

namespace qmx::test {

TestHost* TestHost::From(const HostApi* api) {
  return reinterpret_cast<const Table*>(api)->owner;
}

TestHost* TestHost::Recording(const HostApi* api) {
  TestHost* host = From(api);
  return host->mode_ == Mode::kRecording ? host : nullptr;
}

TestHost::TestHost(Mode mode) : mode_(mode) {
  table_.owner = this;
  api_.CallJsonApi = [](const HostApi* api, HostResponse* response, HostRequest* request) {
    TestHost* host = From(api);
    if (TestHost* recording = Recording(api)) {
      JsonCall call{request->method, request->target ? request->target : "", request->argumentCount,
                    request->requestId, {}, {}};
      for (uint32_t i = 0; i < request->argumentCount; ++i) call.arguments.push_back(request->arguments[i]);
      if (request->argumentCount > 0) {
        ValueResult converted = ToValue(request->arguments[0].value, "arg");
        call.argument.Swap(converted.value());
      }
      recording->jsonCalls.push_back(std::move(call));
    }
    if (host->onJsonApi) host->onJsonApi(response, request);
  };
  api_.SendExternalRequest = [](const HostApi* api, ExternalResponse* response, ExternalRequest* request) {
    TestHost* host = From(api);
    if (TestHost* recording = Recording(api)) {
      ExternalCall call{request->method, request->url ? request->url : "", {}, {}, request->setting1,
                        request->setting2};
      for (uint32_t i = 0; i < request->headerCount; ++i) {
        call.headers.emplace_back(request->headers[i].name, request->headers[i].value);
      }
      if (request->body != nullptr)
        call.body.assign(reinterpret_cast<const char*>(request->body), request->bodyLength);
      recording->externalCalls.push_back(std::move(call));
    }
    if (host->onExternal) host->onExternal(response, request);
  };
  api_.FireEvent = [](const HostApi* api, HostEvent* event) {
    TestHost* recording = Recording(api);
    if (recording == nullptr) return;
    FiredEvent fired{event->name, {}};
    ValueResult payload = ToValue(event->payload, "payload");
    fired.payload.Swap(payload.value());
    recording->fired.push_back(std::move(fired));
  };
  api_.SubscribeEvent = [](const HostApi* api, const char* name, uint32_t cookie, HostEventCallback callback,
                           void* context, int32_t flag) {
    From(api)->subscriptions.push_back({name, cookie, callback, context, flag});
  };
  api_.UnsubscribeEvent = [](const HostApi* api, const char* name, uint32_t cookie) {
    TestHost* host = From(api);
    if (host->mode_ == Mode::kRecording) {
      host->unsubscriptions.emplace_back(name, cookie);
      return;
    }
    std::erase_if(host->subscriptions,
                  [&](const Subscription& s) { return s.name == name && s.cookie == cookie; });
  };
  api_.ScheduleCallback = [](const HostApi* api, const char* label, HostTimerCallback callback, void* context,
                             double delay, int32_t) {
    if (TestHost* recording = Recording(api)) recording->scheduled.push_back({label, callback, context, delay});
  };
  api_.YieldThread = [](const HostApi* api) {
    if (TestHost* recording = Recording(api)) recording->slotTrace.push_back("yield");
  };
  api_.BeginWait = [](const HostApi* api, const char* label, int32_t) {
    if (TestHost* recording = Recording(api)) recording->slotTrace.push_back(std::string("begin:") + label);
  };
  api_.EndWait = [](const HostApi* api) {
    if (TestHost* recording = Recording(api)) recording->slotTrace.push_back("end");
  };
  api_.WriteLog = [](const HostApi* api, int32_t level, const char* message) {
    if (TestHost* recording = Recording(api)) recording->logLines.emplace_back(level, message);
  };
  handle_.api = &api_;
  handle_.hostCookie = 0xC00C1E;
}

void TestHost::Deliver(const std::string& name, const Value& payload) {
  HostValue record{};
  FromValue(payload, record);
  std::vector<Subscription> current = subscriptions;
  for (const Subscription& s : current) {
    if (s.name != name) continue;
    HostEvent event{};
    event.name = name.c_str();
    event.payload = record;
    event.context = s.context;
    s.callback(&event);
  }
  Release(record);
}

void TestHost::DeliverResourceEvent(const std::string& path, const char* type, const char* dataJson) {
  Value event;
  event.Member("uri").SetString(path);
  event.Member("eventType").SetString(type);
  if (dataJson != nullptr) {
    ValueResult data = ReadJson(dataJson);
    event.Member("data").Assign(data.value());
  }
  Deliver(EventNameForPath(path), event);
}

void TestHost::DeliverRecord(const std::string& name, const HostValue& payload) {
  std::vector<Subscription> current = subscriptions;
  for (const Subscription& s : current) {
    if (s.name != name) continue;
    HostEvent event{};
    event.name = name.c_str();
    event.payload = payload;
    event.context = s.context;
    s.callback(&event);
  }
}

bool TestHost::RunNextScheduled() {
  if (scheduled.empty()) return false;
  Scheduled next = scheduled.front();
  scheduled.erase(scheduled.begin());
  next.callback(next.context);
  return true;
}

}  // namespace qmx::test
