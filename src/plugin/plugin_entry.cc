#include "plugin/plugin_entry.h"

#include <cstdio>
#include <exception>
#include <string>

#include "logging/assertion.h"
#include "messages/message_format.h"

namespace qmx {
namespace {

void ReportIncompatibleHost(const Plugin& plugin, const ApiVersion& host) {
  std::string message = FormatMessage("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                                      plugin.ShortName(), PluginApiVersion().Text(), host.Text());
  ReportAssertion("ALE-EECF0606", message.c_str(), nullptr, 0, nullptr);
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
    plugin->Load(host);

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
