// The plugin's one exported symbol.
#include "entitlements/entitlements_plugin.h"
#include "logging/trace_providers.h"
#include "interface/host_api.h"
#include "plugin/plugin_entry.h"

// Exported through exports.map (Linux) or exports.def (Windows). The tracing
// providers register here rather than in a static initialiser, which on
// Windows would run under the loader lock.
extern "C" void load_entitlements(PluginLoadRecord* record) {
  qmx::RegisterTraceProviders();
  qmx::LoadPlugin(record, &qmx::EntitlementsPlugin::Create);
}
