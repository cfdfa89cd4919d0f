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

  // Reference-counted subscription to the events of a resource path
  // (Events() has the typed form).
  void Subscribe(const std::string& path) override { events_.Subscribe(path); }
  void Unsubscribe(const std::string& path) override { events_.Unsubscribe(path); }
  // Unsubscribes every event name at the host and clears the handler, timer
  // and path tables. A derived plugin that overrides it calls this last.
  void Shutdown() override;
  // Registers the plugin's types and endpoints; called once by the load.
  virtual void RegisterApi() {}
  // Starts the plugin's work; its result is Initialize's.
  virtual bool OnStart() { return true; }

  const std::string& ShortName() const { return shortName_; }
  const ApiVersion& HostVersion() const { return hostVersion_; }
  void SetHostVersion(const ApiVersion& version) { hostVersion_ = version; }
  JsonApiClient& JsonApi() { return requests_; }
  ExternalRequestClient& External() { return external_; }
  EventSubscriptions& Events() { return events_; }
  TimerTable& Timers() { return timers_; }
  const PluginCallbacks* Callbacks() const { return &callbacks_; }
  const ApiDescriptor* Descriptor() const { return &apiDescriptor_; }
  TypeRegistry& Registry() { return *typeRegistry_; }
  const TypeRegistry& Registry() const { return *typeRegistry_; }

  // Load sequence, steps 5-7: the naming record from the short name and the
  // kind "backend", the default tags "Plugins" and "Plugin <short name>", and
  // the type prefix (the identifier form of the short name).
  void SetUpNaming();
  const PluginName& Name() const { return name_; }

  // Registers the runtime's host types in the registry and makes it the one
  // every conversion uses; part of the load sequence, before RegisterApi.
  void RegisterRuntimeTypes();
  // Builds the ApiDescriptor from the registry once RegisterApi has run.
  void BuildApiDescriptor();
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
    function.method = static_cast<uint32_t>(HttpMethod::kGet);
    function.tags = tags_;
    return typeRegistry_->RegisterFunction(std::move(function), FunctionListing::Listed);
  }

  // Initialize's work: keeps the handle, attaches to the host and starts.
  bool Start(HostHandle* handle);

 private:
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
  JsonApiClient requests_;
  ExternalRequestClient external_;
  EventSubscriptions events_;
  TimerTable timers_;
};

}  // namespace qmx
