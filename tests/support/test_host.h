// An in-process host for tests: a real HostApi table whose slots record every
// call and answer with scripted records.
//
// A quiet host records nothing and keeps only what it needs to act: the live
// subscriptions (so that events can be delivered). It drops scheduled
// callbacks. A benchmark's loop of calls then measures the plugin alone.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "binding/value.h"
#include "interface/host_api.h"

namespace qmx::test {

class TestHost {
 public:
  struct JsonCall {
    uint32_t method;
    std::string target;
    uint32_t argumentCount;
    uint32_t requestId;
    std::vector<HostArgument> arguments;  // shallow copies, valid during the call only
    Value argument;                       // the first argument converted back
  };
  struct ExternalCall {
    uint32_t method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    uint32_t setting1, setting2;
  };
  struct Subscription {
    std::string name;
    uint32_t cookie;
    HostEventCallback callback;
    void* context;
    int32_t flag;
  };
  struct Scheduled {
    std::string label;
    HostTimerCallback callback;
    void* context;
    double delay;
  };
  struct FiredEvent {
    std::string name;
    Value payload;
  };

  enum class Mode { kRecording, kQuiet };

  explicit TestHost(Mode mode = Mode::kRecording);
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  HostHandle* Handle() { return &handle_; }

  // Scripted answers; each may fill the zeroed record.
  std::function<void(HostResponse*, const HostRequest*)> onJsonApi;
  std::function<void(ExternalResponse*, const ExternalRequest*)> onExternal;

  std::vector<JsonCall> jsonCalls;
  std::vector<ExternalCall> externalCalls;
  // Every subscription made; a quiet host keeps only those not withdrawn.
  std::vector<Subscription> subscriptions;
  std::vector<std::pair<std::string, uint32_t>> unsubscriptions;
  std::vector<Scheduled> scheduled;
  std::vector<FiredEvent> fired;
  std::vector<std::string> slotTrace;  // "yield", "begin:<label>", "end", ...
  std::vector<std::pair<int32_t, std::string>> logLines;

  // Delivers a resource event payload to every subscriber of name.
  void Deliver(const std::string& name, const Value& payload);
  // Delivers a resource event of the usual shape ({"uri", "eventType",
  // "data"}, data parsed from dataJson when given) to the subscribers of the
  // event name of path.
  void DeliverResourceEvent(const std::string& path, const char* type, const char* dataJson = nullptr);
  // Delivers a payload record as it is, however malformed, to every
  // subscriber of name; the record stays the caller's.
  void DeliverRecord(const std::string& name, const HostValue& payload);
  // Runs and forgets the oldest scheduled callback; false when none is left.
  bool RunNextScheduled();

 private:
  static TestHost* From(const HostApi* api);
  // The host of api when it records calls, else null.
  static TestHost* Recording(const HostApi* api);

  // The table followed by its owner, so a slot finds the host from the table address.
  struct Table {
    HostApi api;
    TestHost* owner;
  };
  Table table_;
  HostApi& api_ = table_.api;
  HostHandle handle_;
  Mode mode_;
};

}  // namespace qmx::test
