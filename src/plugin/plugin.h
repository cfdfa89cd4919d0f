// Plugin: the base class of a plugin object.
//
// The host drives the object through the PluginCallbacks table that lives
// inside it: Initialize once after a successful load, Shutdown once, last.
// Plugin objects are allocated through the counted allocator (zeroed before
// construction) and destroyed by Shutdown.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "binding/type_registry.h"
#include "plugin/api_version.h"
#include "plugin/host_api.h"

namespace qmx {

class Plugin {
 public:
  explicit Plugin(std::string shortName);
  virtual ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Plugin objects live in counted, zeroed memory.
  static void* operator new(size_t size);
  static void operator delete(void* block);

  // Unsubscribes everything and clears the tables; derived plugins stop their
  // own work first.
  virtual void Shutdown() {}
  // Registers the plugin's types and endpoints; called once by the load.
  virtual void RegisterApi() {}
  // Starts the plugin's work; its result is Initialize's.
  virtual bool OnStart() { return true; }

  const std::string& ShortName() const { return shortName_; }
  const ApiVersion& HostVersion() const { return hostVersion_; }
  void SetHostVersion(const ApiVersion& version) { hostVersion_ = version; }
  const HostHandle* Handle() const { return hostHandle_; }
  const PluginCallbacks* Callbacks() const { return &callbacks_; }
  const ApiDescriptor* Descriptor() const { return &apiDescriptor_; }
  TypeRegistry& Registry() { return *typeRegistry_; }
  const TypeRegistry& Registry() const { return *typeRegistry_; }

  // Builds the ApiDescriptor from the registry once RegisterApi has run.
  void BuildApiDescriptor();

 private:
  static bool InitializeEntry(void* context, HostHandle* handle);
  static void ShutdownEntry(void* context);
  static void GetMemoryStatsEntry(void* context, MemoryStats* out);

  std::string shortName_;
  ApiVersion hostVersion_;
  std::unique_ptr<TypeRegistry> typeRegistry_;
  const HostHandle* hostHandle_ = nullptr;
  PluginCallbacks callbacks_;
  ApiDescriptor apiDescriptor_{};
};

}  // namespace qmx
