#include "plugin/api_version.h"

#include "messages/message_format.h"

namespace qmx {

std::string ApiVersion::Text() const {
  // Three ten-digit numbers and two dots fit the 33-byte buffer.
  char buffer[33];
  const FormatArg args[] = {major, minor, patch};
  size_t length = FormatInto(buffer, sizeof buffer, "%1.%2.%3", args);
  std::string text(buffer, length);
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
