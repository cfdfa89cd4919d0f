// Reading the host's configuration file.
#pragma once

#include <string>

#include "binding/value.h"
#include "common/result.h"

namespace qmx::host {

// Reads a YAML or JSON document (JSON when the name ends in ".json" or the text
// starts with "{"): the document, or the reason it cannot be read or parsed.
Result<Value, std::string> ReadConfigFile(const std::string& path);

}  // namespace qmx::host
