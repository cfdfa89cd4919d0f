// The load sequence behind the plugin's one export.
#pragma once

#include "interface/host_api.h"
#include "plugin/plugin.h"

namespace qmx {

// Runs the load sequence for the plugin that create() makes: the version check
// against the host's version in the record, Plugin::Load (naming,
// registration, the descriptor), and the filling of the record. An incompatible host is reported and the record
// stays untouched; the plugin object is then destroyed again. Never throws.
void LoadPlugin(PluginLoadRecord* record, Plugin* (*create)());

}  // namespace qmx
