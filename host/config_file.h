// Reading the host's configuration file.
#pragma once

#include <string>

#include "binding/value.h"

namespace qmx::host {

// Reads a YAML or JSON document (JSON when the name ends in ".json" or the text
// starts with "{"). Returns false with a reason when the file cannot be read
// or parsed.
bool ReadConfigFile(const std::string& path, Value& document, std::string& error);

}  // namespace qmx::host
