#include "plugin_module.h"

#include <vector>

#include "common/split_string.h"
#include "port/library.h"

namespace qmx::host {

Result<std::unique_ptr<PluginModule>, std::string> PluginModule::Open(const std::string& path) {
  port::Library library(path);
  if (!library.Loaded())
    return Fail(library.Error().empty() ? "cannot open " + path : library.Error());
  auto load = reinterpret_cast<LoadEntitlementsFn>(library.Symbol("load_entitlements"));
  if (load == nullptr) return Fail(path + " has no load_entitlements");
  // The plugin stays loaded for the rest of the process: its runtime keeps
  // process-wide state that must outlive any unload.
  library.KeepLoaded();
  return std::unique_ptr<PluginModule>(new PluginModule(load, path));
}

std::unique_ptr<PluginModule> PluginModule::FromFunction(LoadEntitlementsFn load, std::string name) {
  return std::unique_ptr<PluginModule>(new PluginModule(load, std::move(name)));
}

bool PluginModule::Load(uint32_t major, uint32_t minor, uint32_t patch) {
  record_ = PluginLoadRecord{};
  record_.major = major;
  record_.minor = minor;
  record_.patch = patch;
  load_(&record_);
  if (record_.context == nullptr || record_.callbacks == nullptr) return false;
  memoryStats_ = record_.callbacks->GetMemoryStats;
  return true;
}

bool PluginModule::Initialize(HostHandle* handle) {
  if (!Loaded() || running_) return false;
  running_ = record_.callbacks->Initialize(record_.context, handle);
  return running_;
}

void PluginModule::Shutdown() {
  if (!Loaded()) return;
  // Shutdown ends the plugin object whether or not Initialize succeeded.
  record_.callbacks->Shutdown(record_.context);
  running_ = false;
  PluginLoadRecord stopped{};
  stopped.major = record_.major;
  stopped.minor = record_.minor;
  stopped.patch = record_.patch;
  record_ = stopped;
}

MemoryStats PluginModule::Memory() const {
  MemoryStats stats{};
  if (memoryStats_ != nullptr) memoryStats_(record_.context, &stats);
  return stats;
}

std::span<const ApiFunctionEntry> PluginModule::Functions() const {
  if (!Loaded() || record_.descriptor == nullptr || record_.descriptor->functions == nullptr) return {};
  return {static_cast<const ApiFunctionEntry*>(record_.descriptor->functions),
          record_.descriptor->functionCount};
}

const ApiFunctionEntry* PluginModule::FindEndpoint(uint32_t method, std::string_view target) const {
  std::string_view path = target.substr(0, target.find('?'));
  for (const ApiFunctionEntry& entry : Functions()) {
    if (entry.path == nullptr || entry.path[0] == '\0') continue;  // called by name only
    if (entry.method != 0 && entry.method != method) continue;
    if (RouteMatches(entry.path, path)) return &entry;
  }
  return nullptr;
}

bool RouteMatches(std::string_view routeTemplate, std::string_view path) {
  if (routeTemplate.find('{') == std::string_view::npos) return routeTemplate == path;
  std::vector<std::string> want = SplitString(routeTemplate, "/");
  std::vector<std::string> have = SplitString(path, "/");
  for (size_t i = 0; i < want.size(); ++i) {
    const std::string& segment = want[i];
    bool placeholder = segment.starts_with('{') && segment.ends_with('}');
    if (placeholder && (segment.starts_with("{+") || segment.starts_with("{#"))) return i <= have.size();
    if (i >= have.size()) return false;
    if (placeholder) {
      if (have[i].empty()) return false;
    } else if (segment != have[i]) {
      return false;
    }
  }
  return want.size() == have.size();
}

}  // namespace qmx::host
