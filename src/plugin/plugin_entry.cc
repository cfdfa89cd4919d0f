#include "plugin/plugin_entry.h"

#include <cstdio>
#include <exception>

namespace qmx {
namespace {

void ReportIncompatibleHost(const Plugin& plugin, const ApiVersion& host) {
  // TODO(logging): ReportAssertion with "ALE-EECF0606" once logging exists.
  std::string message = plugin.ShortName() + " which supports plugin API " +
                        PluginApiVersion().Text() + " is not compatible with core's plugin API " +
                        host.Text();
  std::fprintf(stderr, "ALE-EECF0606: %s\n", message.c_str());
}

}  // namespace

void LoadPlugin(PluginLoadRecord* record, Plugin* (*create)()) {
  if (record == nullptr) return;
  Plugin* plugin = nullptr;
  try {
    plugin = create();
    ApiVersion host{record->major, record->minor, record->patch, {}, {}};
    ApiVersion own = PluginApiVersion();
    if (!IsCompatible(host, own)) {
      ReportIncompatibleHost(*plugin, host);
      delete plugin;
      return;
    }
    plugin->SetHostVersion(host);
    plugin->RegisterRuntimeTypes();
    plugin->RegisterApi();
    plugin->BuildApiDescriptor();

    record->major = own.major;
    record->minor = own.minor;
    record->patch = own.patch;
    record->callbacks = plugin->Callbacks();
    record->context = plugin;
    record->shortName = plugin->ShortName().c_str();
    record->descriptor = plugin->Descriptor();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "load_entitlements: %s\n", error.what());
    delete plugin;
  }
}

}  // namespace qmx
