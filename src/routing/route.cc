#include "routing/route.h"

#include "messages/message_format.h"

#include <initializer_list>
#include <optional>

namespace qmx {
namespace {

constexpr std::string_view kEscapedInLiteralText = "^$.*+?()[]|\\";

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

}  // namespace

TranslatedTemplate TranslateTemplate(std::string_view text) {
  TranslatedTemplate result;
  PlaceholderKind state = PlaceholderKind::kStray;  // kStray here means outside any placeholder
  Placeholder current;
  for (char c : text) {
    if (c == '{') {
      state = current.kind = PlaceholderKind::kSimple;  // a name collected so far is kept
    } else if (c == '}') {
      switch (state) {
        case PlaceholderKind::kSimple: result.pattern += "([^/]*)"; break;
        case PlaceholderKind::kReserved: result.pattern += "(.*)"; break;
        case PlaceholderKind::kFragment: result.pattern += "#(.*)"; break;
        case PlaceholderKind::kStray: break;
      }
      result.parameters.push_back(std::move(current));
      current = Placeholder{};
      state = PlaceholderKind::kStray;
    } else if (state == PlaceholderKind::kStray) {
      if (kEscapedInLiteralText.find(c) != std::string_view::npos) result.pattern.push_back('\\');
      result.pattern.push_back(c);
    } else if (state == PlaceholderKind::kSimple && current.name.empty() && (c == '+' || c == '#')) {
      state = current.kind = c == '+' ? PlaceholderKind::kReserved : PlaceholderKind::kFragment;
    } else {
      current.name.push_back(c);
    }
  }
  return result;
}

Route MakeRoute(std::string_view name, std::string_view path, HttpMethod method,
                std::string_view callName, const FunctionDescriptor* function) {
  Route route;
  route.name = name;
  route.function = function;
  route.method = method;
  route.callName = std::string(callName);
  std::string_view text = path.empty() ? name : path;
  if (text.find('{') == std::string_view::npos) {
    route.literal = std::string(text);
    return route;
  }
  TranslatedTemplate translated = TranslateTemplate(text);
  route.pattern = RoutePattern::Compile(translated.pattern);
  route.parameters = std::move(translated.parameters);
  return route;
}

bool MatchRoute(const Route& route, std::string_view target, ParameterMap& parameters) {
  parameters.clear();
  if (!route.pattern) return !route.literal.empty() && target == route.literal;
  std::vector<std::string_view> captures;
  if (!route.pattern->FullMatch(target, captures)) return false;
  // Group i takes the name of the i-th record; a stray "}" has a record but
  // no group, which shifts the names of the groups after it.
  for (size_t i = 0; i < captures.size() && i < route.parameters.size(); ++i) {
    parameters[route.parameters[i].name] = PercentDecode(captures[i]);
  }
  return true;
}

bool SelectRoute(std::span<const Route> table, MatchState& state, bool ignoreMethods) {
  size_t candidateSum = 0;
  bool haveCandidate = false;
  ParameterMap parameters;
  for (const Route& route : table) {
    if (!ignoreMethods && route.method != HttpMethod::kNone &&
        (route.method != state.method || route.callName != state.callName)) {
      continue;
    }
    if (!MatchRoute(route, state.target, parameters)) continue;
    size_t sum = 0;
    for (const auto& [name, value] : parameters) sum += value.size();
    // A candidate exists here only if it has parameters (see the stop below).
    if (!haveCandidate || sum < candidateSum) {
      haveCandidate = true;
      candidateSum = sum;
      state.matchedName = route.name;
      state.matchedFunction = route.function;
      if (parameters.empty()) {
        // A literal route: nothing to hand over, and nothing to allocate.
        state.parameters.clear();
      } else {
        state.parameters = std::move(parameters);
        parameters = ParameterMap();
      }
    }
    if (state.parameters.empty()) break;
  }
  return state.found();
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (text.size() - i >= 3) {
        const std::optional<int> high = HexDigit(text[i + 1]);
        const std::optional<int> low = HexDigit(text[i + 2]);
        out.push_back(high && low ? static_cast<char>(*high << 4 | *low) : '?');
        i += 2;
      }
      // A "%" too close to the end is dropped.
    } else if (c == '+') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string NormalizeEndpointPath(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string EndpointFunctionName(HttpMethod method, std::string_view path) {
  std::string text;
  std::string_view methodName = HttpMethodName(method);
  if (!methodName.empty()) {
    std::string rest;
    for (char c : methodName.substr(1)) rest.push_back(AsciiLower(c));
    text = FormatMessageTexts("%1%2/", {methodName.substr(0, 1), rest});
  }
  text += path;
  std::string name;
  bool upperNext = true;
  for (char c : text) {
    switch (c) {
      case '!': case '+': case '-': case '.': case '/': case '_':
        upperNext = true;
        break;
      case '{':
        name += "By";
        upperNext = true;
        break;
      case '}':
        break;
      default:
        if (upperNext) {
          name.push_back(AsciiUpper(c));
          upperNext = false;
        } else {
          name.push_back(c);
        }
    }
  }
  return name;
}

}  // namespace qmx
