#include "plugin/event_paths.h"

#include <vector>

namespace qmx {

std::string EventNameForPath(std::string_view path) {
  std::vector<std::string_view> parts{"OnJsonApiEvent"};
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  size_t keep = parts.size() > 1 && parts[1] == "mip-platform-config" ? 6 : 4;
  if (parts.size() > keep) parts.resize(keep);
  std::string name;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) name.push_back('_');
    name.append(parts[i]);
  }
  return name;
}

bool MatchPathPattern(std::string_view pattern, std::string_view uri) {
  size_t p = 0, u = 0;
  while (p < pattern.size() && u < uri.size()) {
    if (pattern[p] == '*') {
      if (uri[u] == '/') {
        ++p;  // the star has matched all it can in this segment
      } else {
        ++u;
        if (u == uri.size()) ++p;
      }
    } else if (pattern[p] == uri[u]) {
      ++p;
      ++u;
    } else {
      return false;
    }
  }
  return p == pattern.size() && u == uri.size();
}

}  // namespace qmx
