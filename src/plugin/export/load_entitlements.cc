// The plugin's one exported symbol.
#include "entitlements/entitlements_plugin.h"
#include "plugin/host_api.h"
#include "plugin/plugin_entry.h"

extern "C" __attribute__((visibility("default"))) void load_entitlements(PluginLoadRecord* record) {
  qmx::LoadPlugin(record, &qmx::EntitlementsPlugin::Create);
}
