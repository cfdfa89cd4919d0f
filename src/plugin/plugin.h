// Plugin: the base class of a plugin object.
//
// The host drives the object through the PluginCallbacks table that lives
// inside it: Initialize once after a successful load, Shutdown once, last.
// Plugin objects are allocated through the counted allocator (zeroed before
// construction) and destroyed by Shutdown.
//
// The runtime's work with the host is done by four parts, each behind its
// accessor: JsonApi() (the host's JSON API and the data store's settings),
// External() (outside HTTP services), Events() (subscriptions, dispatch,
// publication, service-proxy events) and Timers() (named timers). All of them
// call the host through the operations this object inherits from
// HostOperations, so an override of one of those sees every call.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"
#include "plugin/api_version.h"
#include "plugin/event_subscriptions.h"
#include "plugin/external_request_client.h"
#include "plugin/host_operations.h"
#include "interface/host_api.h"
#include "plugin/json_api_client.h"
#include "plugin/plugin_log_target.h"
#include "plugin/plugin_name.h"
#include "plugin/timer_table.h"
#include "routing/endpoint.h"
#include "routing/route.h"

namespace qmx {

class ApiDescriptorStorage;

class Plugin : public HostOperations {
 public:
  explicit Plugin(std::string shortName);
  ~Plugin() override;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Plugin objects live in counted, zeroed memory.
  static void* operator new(size_t size);
  static void operator delete(void* block);

  // The virtual operations keep one order: Subscribe, Unsubscribe, the
  // destructor, Shutdown, the host's nine operations (HostOperations, in the
  // order of the HostApi table), RegisterApi, OnStart. Nothing depends on it
  // at run time: the host reaches the object only as the opaque context of
  // the PluginCallbacks entries, and every virtual call is made inside this
  // library. The order is the one the platform's plugin objects have, and
  // PluginSlotOrderTest holds it so that it changes only on purpose; a new
  // virtual operation goes after OnStart, and the retry policy and the load
  // steps are no virtual operations at all.

  // Reference-counted subscription to the events of a resource path
  // (Events() has the typed form).
  void Subscribe(const std::string& path) override { events_.Subscribe(path); }
  void Unsubscribe(const std::string& path) override { events_.Unsubscribe(path); }
  // Unsubscribes every event name at the host and clears the handler, timer
  // and path tables. A derived plugin that overrides it calls this last.
  void Shutdown() override;
  // The load of a newly made plugin, once, before the host's Initialize; the
  // steps depend on each other in this order:
  //   1. keep hostVersion (the user agent is formed from it at Initialize);
  //   2. the naming record (short name, kind "backend"), the tags "Plugins"
  //      and "Plugin <short name>" and the type prefix, which RegisterApi's
  //      types and endpoints carry;
  //   3. the runtime's host types, which the conversions of RegisterApi's
  //      endpoints and of the host clients look up;
  //   4. RegisterApi;
  //   5. the ApiDescriptor of what is now registered (built once: the host
  //      may hold pointers into it).
  // The version check against the host comes before it (LoadPlugin).
  void Load(const ApiVersion& hostVersion);

  const std::string& ShortName() const { return shortName_; }
  const ApiVersion& HostVersion() const { return hostVersion_; }
  JsonApiClient& JsonApi() { return jsonApi_; }
  ExternalRequestClient& External() { return external_; }
  EventSubscriptions& Events() { return events_; }
  TimerTable& Timers() { return timers_; }
  const PluginCallbacks* Callbacks() const { return &callbacks_; }
  const ApiDescriptor* Descriptor() const { return &apiDescriptor_; }
  TypeRegistry& Registry() { return *typeRegistry_; }
  const TypeRegistry& Registry() const { return *typeRegistry_; }

  const PluginName& Name() const { return name_; }
  // "Plugins" and "Plugin <short name>": attached to every type and function
  // the plugin registers.
  const std::vector<std::string>& Tags() const { return tags_; }
  // The identifier form of the short name; prefix of the plugin's type names.
  const std::string& TypePrefix() const { return typePrefix_; }

  // Registers the struct type T as TypePrefix() + name with the plugin's
  // tags; the caller adds the members to the returned builder.
  template <typename T>
  TypeBuilder DefineStruct(const std::string& name) {
    TypeBuilder builder =
        typeRegistry_->BeginType(sizeof(T), typePrefix_ + name, TypeIdOf<T>(), TypeKind::Struct);
    builder.AddTags(tags_);
    return builder;
  }

  // Registers handler for GET on path, named by the endpoint naming rule.
  // The handler takes its parameters as const references and returns an
  // EndpointResult; its arguments are named by argumentNames, or else by the
  // path's placeholders in order. A first parameter of type const
  // RequestInfo& is no argument: it receives the record of each call.
  // A single trailing "/" of path is dropped ("/items/" serves "/items").
  template <typename F>
  FunctionDescriptor* RegisterGet(const std::string& givenPath, F handler,
                                  std::vector<std::string> argumentNames = {}) {
    const std::string path = NormalizeEndpointPath(givenPath);
    if (argumentNames.empty()) {
      for (const Placeholder& placeholder : TranslateTemplate(path).parameters) {
        if (placeholder.kind != PlaceholderKind::kStray) argumentNames.push_back(placeholder.name);
      }
    }
    FunctionDescriptor function =
        MakeEndpointFrom(*typeRegistry_, EndpointFunctionName(HttpMethod::kGet, path),
                         std::move(argumentNames), std::move(handler));
    function.path = path;
    function.method = HostMethodGet;
    function.tags = tags_;
    return typeRegistry_->RegisterFunction(std::move(function), FunctionListing::Listed);
  }

 protected:
  // The two hooks of a concrete plugin, called by the runtime alone.
  // RegisterApi registers the plugin's types and endpoints; Load calls it
  // once, after the naming and the runtime's types and before the descriptor
  // is built. OnStart starts the plugin's work at Initialize; its result is
  // Initialize's.
  virtual void RegisterApi() {}
  virtual bool OnStart() { return true; }

 private:
  // Load's steps 2, 3 and 5.
  void SetUpNaming();
  void RegisterRuntimeTypes();
  void BuildApiDescriptor();
  // Initialize's work: keeps the handle, attaches to the host and starts.
  bool Start(HostHandle* handle);

  static bool InitializeEntry(void* context, HostHandle* handle);
  static void ShutdownEntry(void* context);
  static void GetMemoryStatsEntry(void* context, MemoryStats* out);

  std::string shortName_;
  ApiVersion hostVersion_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginName name_;
  std::string typePrefix_;
  std::vector<std::string> tags_;
  std::unique_ptr<TypeRegistry> typeRegistry_;
  PluginCallbacks callbacks_;
  ApiDescriptor apiDescriptor_{};
  std::unique_ptr<ApiDescriptorStorage> descriptorStorage_;
  JsonApiClient jsonApi_;
  ExternalRequestClient external_;
  EventSubscriptions events_;
  TimerTable timers_;
};

}  // namespace qmx
