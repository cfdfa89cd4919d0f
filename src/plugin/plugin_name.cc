#include "plugin/plugin_name.h"

#include "logging/categories.h"
#include "logging/log_record.h"
#include "logging/logger.h"
#include "messages/message_format.h"

namespace qmx {

PluginName GetFullNameFromShortNameAndType(std::string_view shortName, const PluginKind& kind) {
  std::string prefix;
  if (kind.name == "backend") {
    prefix = "qmx-be-";
  } else if (kind.name == "frontend") {
    prefix = "qmx-fe-";
  } else {
    prefix = "qmx-xx-";
    std::string message = FormatMessageTexts(
        "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type", {shortName, kind.name});
    Log(kLogError, kCategoryDbg, "            Plugin Manager| %s", message.c_str());
  }
  PluginName name;
  name.fullName = prefix + std::string(shortName);
  name.shortName = shortName;
  name.kind = kind.name;
  name.kindDetail = kind.detail;
  return name;
}

}  // namespace qmx
