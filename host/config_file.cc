#include "config_file.h"

#include <fstream>
#include <sstream>

#include "serialization/json.h"
#include "serialization/yaml.h"

namespace qmx::host {

bool ReadConfigFile(const std::string& path, Value& document, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  std::string content = text.str();
  size_t first = content.find_first_not_of(" \t\r\n");
  bool json = path.ends_with(".json") || (first != std::string::npos && content[first] == '{');
  ValueResult parsed = json ? ReadJson(std::string_view(content)) : ReadYaml(content);
  if (!parsed.Ok()) {
    error = path + ": " + std::string(parsed.ErrorText());
    return false;
  }
  document.Swap(parsed.value());
  return true;
}

}  // namespace qmx::host
