// Event names of resource paths and the path patterns of wildcard handlers.
#pragma once

#include <string>
#include <string_view>

namespace qmx {

// "OnJsonApiEvent" and the non-empty pieces of path between "/" characters,
// joined with "_" and cut to the first 4 parts (6 when the second part is
// "mip-platform-config"): "/entitlements/v1/token" gives
// "OnJsonApiEvent_entitlements_v1_token".
std::string EventNameForPath(std::string_view path);

// Matches uri against a pattern in which "*" stands for a run of characters
// without "/" within one path segment. Both texts are walked once from the
// start, without backtracking.
bool MatchPathPattern(std::string_view pattern, std::string_view uri);

}  // namespace qmx
