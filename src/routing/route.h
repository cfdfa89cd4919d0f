// Route templates: matching request targets against the routes of a
// plugin's functions, extracting path parameters, and naming endpoints.
//
// Template syntax: literal text with placeholders {name} (one path segment,
// no "/"), {+name} (reserved: anything, "/" included) and {#name} (a "#"
// followed by anything). A template without "{" is matched literally.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "routing/http.h"
#include "routing/route_pattern.h"

namespace qmx {

struct FunctionDescriptor;  // the type registry's function record; routing only points at it

enum class PlaceholderKind : int32_t {
  kStray = 0,  // a "}" outside any placeholder: a record without a capture group
  kSimple = 1,
  kReserved = 2,
  kFragment = 3,
};

struct Placeholder {
  PlaceholderKind kind = PlaceholderKind::kStray;
  std::string name;
  friend bool operator==(const Placeholder&, const Placeholder&) = default;
};

struct TranslatedTemplate {
  std::string pattern;                   // ECMAScript regular expression
  std::vector<Placeholder> parameters;   // one per "}"; the n-th names capture group n
};

// One pass over a template: literal text is copied with the regular
// expression syntax characters escaped, placeholders become groups.
TranslatedTemplate TranslateTemplate(std::string_view text);

using ParameterMap = std::unordered_map<std::string, std::string>;

struct Route {
  std::string_view name;                       // the function's name; must outlive the route
  const FunctionDescriptor* function = nullptr;
  HttpMethod method = HttpMethod::kNone;       // kNone accepts every method
  std::string callName;                        // compared only when method is not kNone
  std::string literal;                         // the template when it has no "{"
  std::shared_ptr<const RoutePattern> pattern; // present when the template has a "{"
  std::vector<Placeholder> parameters;
};

// Builds the route of a function: the template is path, or name when path
// is empty.
Route MakeRoute(std::string_view name, std::string_view path, HttpMethod method,
                std::string_view callName, const FunctionDescriptor* function);

// Matches target against one route; on success parameters holds the
// percent-decoded captures by placeholder name (a later placeholder of the
// same name overwrites an earlier one). An empty template never matches.
bool MatchRoute(const Route& route, std::string_view target, ParameterMap& parameters);

// callName and target are views: what they view must outlive the match.
struct MatchState {
  HttpMethod method = HttpMethod::kNone;
  std::string_view callName;
  std::string_view target;
  std::string_view matchedName;
  const FunctionDescriptor* matchedFunction = nullptr;
  ParameterMap parameters;

  bool found() const { return matchedFunction != nullptr; }
};

// Selects the route for state's method, call name and target, in table
// order. A qualifying route matches the target and, unless ignoreMethods,
// accepts the request's method (and call name). The first becomes the
// candidate; a later one replaces it only if the candidate has parameters
// and the later route's decoded parameter values are strictly shorter in
// total. The search stops once the candidate has no parameters.
// Returns state.found().
bool SelectRoute(std::span<const Route> table, MatchState& state, bool ignoreMethods = false);

// Percent-decoding of a captured text: "%XY" gives the byte 0xXY (a pair
// that is not two hex digits gives "?"), a "%" with fewer than two
// characters after it is dropped, "+" becomes a space.
std::string PercentDecode(std::string_view text);

// An endpoint's path without a single trailing "/" ("/" itself stays).
std::string NormalizeEndpointPath(std::string_view path);

// The generated name of a function registered for method and path:
// GET /items/{id} is GetItemsById. With HttpMethod::kNone only the walk over
// path is applied (used for the plugin's own name).
std::string EndpointFunctionName(HttpMethod method, std::string_view path);

}  // namespace qmx
