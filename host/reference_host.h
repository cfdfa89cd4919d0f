// The reference host: the platform's side of the plugin boundary.
//
// It offers a plugin the HostApi table: an in-memory JSON API of resources by
// path (the data store's settings among them), resource events for every
// change, calls of the plugin's own endpoints through its ApiDescriptor,
// outside HTTP requests performed with libcurl, one-shot scheduled callbacks
// and the plugin's log lines.
//
// Threads: every call into the plugin runs on the host's one plugin thread
// (WorkQueue), so calls never overlap. Events are delivered as tasks of their
// own, never from inside the call that caused them. The public operations may
// be called from any thread; they run on the plugin thread and wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "binding/value.h"
#include "common/result.h"
#include "interface/host_api.h"
#include "plugin_module.h"
#include "work_queue.h"

namespace qmx::host {

// The answer of a JSON-API call.
struct ApiAnswer {
  uint32_t status = 200;
  Value body;
  std::string error;  // non-empty: the call failed
  bool Ok() const { return error.empty(); }
};

// One outside request the plugin had the host perform, without its headers
// and body (they carry credentials).
struct ExternalCallRecord {
  uint32_t method = 0;
  std::string url;
  int32_t result = 0;  // 0 answered, 1 not reached, 2 timed out, -1 refused
  uint32_t status = 0;
  double seconds = 0;
  std::string failure;  // the transport's text when result is not 0
};

class ReferenceHost {
 public:
  struct Options {
    double externalTimeoutSeconds = 10;  // for each outside request
    uint32_t hostCookie = 0x51A7E;
  };

  ReferenceHost();
  explicit ReferenceHost(Options options);
  ~ReferenceHost();  // shuts a running plugin down
  ReferenceHost(const ReferenceHost&) = delete;
  ReferenceHost& operator=(const ReferenceHost&) = delete;

  // Stores a resource without an event (for seeding before Start).
  void Seed(const std::string& path, const Value& value);
  // Seeds from a configuration document:
  //   install-settings: {name: value}  -> /data-store/v1/install-settings/<name>
  //   system-settings:  {name: value}  -> /data-store/v1/system-settings/<name>
  //   resources:        {path: value}
  // The reason for a document of another shape.
  Result<void, std::string> SeedFromConfig(const Value& config);

  // load_entitlements with the version, then Initialize. On failure the
  // plugin is not running and the error says why.
  Result<void, std::string> Start(PluginModule& plugin, uint32_t major, uint32_t minor, uint32_t patch);
  // Shutdown; scheduled callbacks still pending are dropped. Harmless twice.
  void Stop();
  bool Running() const { return running_; }

  // The JSON API as any caller sees it. body, when not null, is the request's
  // body (PUT and POST store it). A target that matches one of the plugin's
  // endpoints calls that endpoint.
  ApiAnswer Call(uint32_t method, const std::string& target, const Value* body = nullptr);
  ApiAnswer Get(const std::string& target) { return Call(HostMethodGet, target); }
  ApiAnswer Put(const std::string& target, const Value& body) { return Call(HostMethodPut, target, &body); }
  ApiAnswer Delete(const std::string& target) { return Call(HostMethodDelete, target); }

  // The plugin's allocation counters (zero before the first successful load).
  MemoryStats Memory();
  // Waits until everything due by now has run on the plugin thread.
  void Settle() { queue_.Drain(); }

  // Observers, called on the plugin thread. Set them before Start.
  std::function<void(const std::string& name, const Value& payload)> onPluginEvent;
  std::function<void(const ExternalCallRecord&)> onExternalCall;
  std::function<void(uint32_t method, const std::string& target)> onPluginRequest;
  std::function<void(int32_t level, const std::string& line)> onLog;  // default: standard error

 private:
  struct Subscriber {
    uint32_t cookie;
    HostEventCallback callback;
    void* context;
  };
  struct Table {
    HostApi api;
    ReferenceHost* owner;
  };

  static ReferenceHost& From(const HostApi* api);
  static void CallJsonApiSlot(const HostApi*, HostResponse*, HostRequest*);
  static void SendExternalRequestSlot(const HostApi*, ExternalResponse*, ExternalRequest*);
  static void FireEventSlot(const HostApi*, HostEvent*);
  static void SubscribeEventSlot(const HostApi*, const char*, uint32_t, HostEventCallback, void*, int32_t);
  static void UnsubscribeEventSlot(const HostApi*, const char*, uint32_t);
  static void ScheduleCallbackSlot(const HostApi*, const char*, HostTimerCallback, void*, double, int32_t);
  static void YieldThreadSlot(const HostApi*);
  static void BeginWaitSlot(const HostApi*, const char*, int32_t);
  static void EndWaitSlot(const HostApi*);
  static void WriteLogSlot(const HostApi*, int32_t, const char*);

  // On the plugin thread.
  ApiAnswer Serve(uint32_t method, const std::string& target, const Value* body);
  ApiAnswer CallEndpoint(const ApiFunctionEntry& entry, uint32_t method, const std::string& target,
                         const Value* body);
  void AnnounceChange(const std::string& path, const char* eventType, const Value* data);
  void Deliver(const std::string& name, std::shared_ptr<Value> payload);

  Options options_;
  Table table_;
  HostHandle handle_;
  PluginModule* plugin_ = nullptr;
  std::atomic<bool> running_{false};
  uint64_t epoch_ = 0;  // a Start begins a new epoch; older scheduled calls are dropped

  // Owned by the plugin thread.
  std::map<std::string, Value> resources_;
  std::map<std::string, std::vector<Subscriber>> subscribers_;

  // Last, so that its thread has stopped before anything it uses is destroyed.
  WorkQueue queue_;
};

// "GET", "PUT", ... for a method code; "CALL" for 8, "?" otherwise.
const char* MethodName(uint32_t method);

}  // namespace qmx::host
