#include "plugin/plugin.h"

#include <cstring>
#include <exception>
#include <initializer_list>
#include <new>

#include "logging/categories.h"
#include "logging/logger.h"
#include "plugin/api_descriptor_builder.h"
#include "plugin/host_types.h"
#include "interface/counted_allocator.h"
#include "messages/message_format.h"
#include "routing/route.h"

namespace qmx {

Plugin::Plugin(std::string shortName)
    : shortName_(std::move(shortName)),
      typeRegistry_(std::make_unique<TypeRegistry>()),
      callbacks_{&Plugin::InitializeEntry, &Plugin::ShutdownEntry, &Plugin::GetMemoryStatsEntry},
      jsonApi_(*this),
      external_(*this),
      events_(*this, jsonApi_, shortName_),
      timers_(*this, shortName_) {
  // The plugin holds the process-wide logger from construction to destruction.
  AcquireLogger();
  typeRegistry_->RegisterBuiltins();
}

Plugin::~Plugin() {
  // The registry goes first and the logger reference last.
  descriptorStorage_.reset();
  typeRegistry_.reset();
  tags_.clear();
  typePrefix_.clear();
  name_ = PluginName();
  logTarget_.reset();
  ReleaseLogger();
}

void* Plugin::operator new(size_t size) {
  void* block = CountedAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  std::memset(block, 0, size);
  return block;
}

void Plugin::operator delete(void* block) { CountedFree(block); }

void Plugin::Load(const ApiVersion& hostVersion) {
  hostVersion_ = hostVersion;
  SetUpNaming();
  RegisterRuntimeTypes();
  RegisterApi();
  BuildApiDescriptor();
}

void Plugin::SetUpNaming() {
  name_ = GetFullNameFromShortNameAndType(shortName_, PluginKind{"backend", ""});
  tags_ = {"Plugins", "Plugin " + shortName_};
  typePrefix_ = EndpointFunctionName(HttpMethod::kNone, shortName_);
}

void Plugin::RegisterRuntimeTypes() {
  RegisterHostTypes(*typeRegistry_);
  jsonApi_.SetRegistry(typeRegistry_.get());
}

bool Plugin::Start(HostHandle* handle) {
  AttachHandle(handle);
  if (FindTarget("PluginLogTarget") == nullptr && handle != nullptr) {
    // From now on the host gets the lines; the consoles are left to it. Each
    // console target detaches itself, so it knows it is detached and a later
    // attach puts it back.
    for (LogSink* console : {StdErrTarget(), StdOutTarget(), DebuggerConsoleTarget()}) {
      if (console != nullptr) console->detach(console);
    }
    SetMinLevel(kLogOkay);
    SetMutedCategories(kCategoryXtr);
    logTarget_ = std::make_unique<PluginLogTarget>(handle->api);
    LogTargetSettings settings;
    settings.minLevel = GetMinLevel();
    settings.format = "#D| #L| #G| #M";
    logTarget_->Configure(settings);
  }
  std::string userAgent = FormatMessage("VaskClient/%1 (%2)", hostVersion_.Text(), shortName_);
  external_.SetUserAgent(std::move(userAgent));
  events_.SubscribeServiceProxy();
  return OnStart();
}

void Plugin::Shutdown() {
  events_.Clear();
  timers_.Clear();
}

void Plugin::BuildApiDescriptor() {
  // Built once: the host may already hold pointers into the arrays.
  if (descriptorStorage_ != nullptr) return;
  descriptorStorage_ = std::make_unique<ApiDescriptorStorage>();
  descriptorStorage_->Build(*typeRegistry_, apiDescriptor_);
}

bool Plugin::InitializeEntry(void* context, HostHandle* handle) {
  auto* plugin = static_cast<Plugin*>(context);
  if (plugin == nullptr) return false;
  try {
    return plugin->Start(handle);
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
