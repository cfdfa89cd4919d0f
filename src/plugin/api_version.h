// The plugin-interface version and the compatibility rule between host and plugin.
#pragma once

#include <cstdint>
#include <string>

namespace qmx {

struct ApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  // "major.minor.patch", then "-prerelease" and "+build" when not empty.
  std::string Text() const;
};

// The version this plugin implements: 18.0.0.
ApiVersion PluginApiVersion();

// A host is compatible when its major equals the plugin's and its (minor,
// patch) is not below the plugin's.
bool IsCompatible(const ApiVersion& host, const ApiVersion& plugin);

}  // namespace qmx
