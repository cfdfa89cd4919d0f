#include "config_file.h"

#include <fstream>
#include <sstream>

#include "serialization/body_formats.h"

namespace qmx::host {

Result<Value, std::string> ReadConfigFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Fail("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  std::string content = text.str();
  size_t first = content.find_first_not_of(" \t\r\n");
  bool json = path.ends_with(".json") || (first != std::string::npos && content[first] == '{');
  ValueResult parsed = FindBodyFormatByName(json ? "json" : "yaml")->read(content);
  if (!parsed.Ok()) return Fail(path + ": " + std::string(parsed.ErrorText()));
  return std::move(parsed.value());
}

}  // namespace qmx::host
