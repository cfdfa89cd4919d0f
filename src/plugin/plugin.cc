#include "plugin/plugin.h"

#include <cstring>
#include <exception>
#include <new>

#include "logging/logger.h"
#include "plugin/counted_allocator.h"

namespace qmx {

Plugin::Plugin(std::string shortName)
    : shortName_(std::move(shortName)),
      callbacks_{&Plugin::InitializeEntry, &Plugin::ShutdownEntry, &Plugin::GetMemoryStatsEntry} {
  // The plugin holds the process-wide logger from construction to destruction.
  AcquireLogger();
}

Plugin::~Plugin() { ReleaseLogger(); }

void* Plugin::operator new(size_t size) {
  void* block = CountedAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  std::memset(block, 0, size);
  return block;
}

void Plugin::operator delete(void* block) { CountedFree(block); }

void Plugin::BuildApiDescriptor() { apiDescriptor_ = ApiDescriptor{}; }

bool Plugin::InitializeEntry(void* context, HostHandle* handle) {
  auto* plugin = static_cast<Plugin*>(context);
  if (plugin == nullptr) return false;
  try {
    plugin->hostHandle_ = handle;
    return plugin->OnStart();
  } catch (const std::exception&) {
    return false;
  }
}

void Plugin::ShutdownEntry(void* context) {
  auto* plugin = static_cast<Plugin*>(context);
  if (plugin == nullptr) return;
  try {
    plugin->Shutdown();
  } catch (const std::exception&) {
    // Shutdown goes on: the object is destroyed whatever the hook did.
  }
  delete plugin;
}

void Plugin::GetMemoryStatsEntry(void*, MemoryStats* out) { GetMemoryStats(out); }

}  // namespace qmx
