// A plugin as the host sees it: the shared object, its load record, its
// callback table and the functions of its ApiDescriptor.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"
#include "interface/api_descriptor.h"
#include "interface/host_api.h"

namespace qmx::host {

class PluginModule {
 public:
  // Opens a plugin shared object and finds load_entitlements: the module, or
  // the reason it cannot be used. The library is never closed: a plugin has
  // no unload entry, and its runtime may keep process-wide state.
  static Result<std::unique_ptr<PluginModule>, std::string> Open(const std::string& path);
  // A plugin linked into the host process itself (tests).
  static std::unique_ptr<PluginModule> FromFunction(LoadEntitlementsFn load, std::string name);

  // Calls load_entitlements with the host's version. False when the plugin
  // refused it (it reports why in its log and leaves the record unfilled).
  bool Load(uint32_t major, uint32_t minor, uint32_t patch);
  bool Loaded() const { return record_.context != nullptr; }

  bool Initialize(HostHandle* handle);
  // Shutdown destroys the plugin object: the record's tables are gone after it.
  void Shutdown();
  // The plugin's allocation counters. They are process-wide, so they can be
  // read before Initialize and after Shutdown too (once Load has succeeded).
  MemoryStats Memory() const;

  const PluginLoadRecord& Record() const { return record_; }
  const std::string& Name() const { return name_; }
  std::span<const ApiFunctionEntry> Functions() const;

  // The function whose method and route template match a request, or null.
  // Templates match segment by segment: "{name}" stands for one segment,
  // "{+name}" and "{#name}" for the rest of the path; the query is ignored.
  const ApiFunctionEntry* FindEndpoint(uint32_t method, std::string_view target) const;

 private:
  PluginModule(LoadEntitlementsFn load, std::string name) : load_(load), name_(std::move(name)) {}

  LoadEntitlementsFn load_;
  std::string name_;
  PluginLoadRecord record_{};
  void (*memoryStats_)(void*, MemoryStats*) = nullptr;
  bool running_ = false;
};

// Whether a route template matches a path (see FindEndpoint).
bool RouteMatches(std::string_view routeTemplate, std::string_view path);

}  // namespace qmx::host
