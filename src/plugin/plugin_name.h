// The naming record of a plugin.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// The kind of a plugin: "backend" or "frontend", with a free detail text.
struct PluginKind {
  std::string name;
  std::string detail;
};

struct PluginName {
  std::string fullName;   // "qmx-be-entitlements"
  std::string shortName;  // "entitlements"
  std::string kind;       // "backend"
  std::string kindDetail;
};

// fullName is "qmx-be-", "qmx-fe-" or, for any other kind (case matters),
// "qmx-xx-" followed by the short name; an unknown kind is logged as an error.
PluginName GetFullNameFromShortNameAndType(std::string_view shortName, const PluginKind& kind);

}  // namespace qmx
