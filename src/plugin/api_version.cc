#include "plugin/api_version.h"

#include <cstdio>

namespace qmx {

std::string ApiVersion::Text() const {
  // TODO(format): the "%1.%2.%3" template of the message engine, 33-byte buffer.
  char buffer[33];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u", static_cast<unsigned>(major),
                static_cast<unsigned>(minor), static_cast<unsigned>(patch));
  std::string text = buffer;
  if (!prerelease.empty()) text += "-" + prerelease;
  if (!build.empty()) text += "+" + build;
  return text;
}

ApiVersion PluginApiVersion() { return ApiVersion{18, 0, 0, {}, {}}; }

bool IsCompatible(const ApiVersion& host, const ApiVersion& plugin) {
  if (host.major != plugin.major) return false;
  return host.minor > plugin.minor || (host.minor == plugin.minor && host.patch >= plugin.patch);
}

}  // namespace qmx
