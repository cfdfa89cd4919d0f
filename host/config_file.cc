#include "config_file.h"

#include <fstream>
#include <sstream>

#include "serialization/json.h"
#include "serialization/yaml.h"

namespace qmx::host {

Result<Value, std::string> ReadConfigFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Fail("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  std::string content = text.str();
  size_t first = content.find_first_not_of(" \t\r\n");
  bool json = path.ends_with(".json") || (first != std::string::npos && content[first] == '{');
  ValueResult parsed = json ? ReadJson(std::string_view(content)) : ReadYaml(content);
  if (!parsed.Ok()) return Fail(path + ": " + std::string(parsed.ErrorText()));
  return std::move(parsed.value());
}

}  // namespace qmx::host
