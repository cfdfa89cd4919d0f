// Route templates and percent-decoding. The input is a method byte, a
// template, "\n" and a target. The compiled pattern must agree with
// std::regex_match on the same translated expression (checked on short
// texts with few groups only: std::regex recurses and backtracks), captures must lie inside
// the target, and the query and path helpers must accept anything.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "binding/type_registry.h"
#include "fuzz/fuzz_input.h"
#include "routing/arguments.h"
#include "routing/route.h"
#include "routing/route_pattern.h"

namespace {

void Fail(const char* what, std::string_view pattern, std::string_view target) {
  std::fprintf(stderr, "%s\npattern: %.*s\ntarget: %.*s\n", what, static_cast<int>(pattern.size()),
               pattern.data(), static_cast<int>(target.size()), target.data());
  std::abort();
}

void CheckAgainstStdRegex(const qmx::RoutePattern& pattern, std::string_view target) {
  std::vector<std::string_view> captures;
  const bool matched = pattern.FullMatch(target, captures);
  if (matched) {
    if (captures.size() != pattern.groupCount()) Fail("capture count", pattern.source(), target);
    for (std::string_view capture : captures) {
      if (capture.data() < target.data() ||
          capture.data() + capture.size() > target.data() + target.size()) {
        Fail("capture outside the target", pattern.source(), target);
      }
    }
  }
  // std::regex backtracks: its cost grows with the target length to the power
  // of the group count, so the comparison is kept to small cases.
  if (pattern.source().size() > 64 || target.size() > 32 || pattern.groupCount() > 3) return;
  std::regex expression;
  try {
    expression = std::regex(pattern.source(), std::regex::ECMAScript);
  } catch (const std::regex_error&) {
    Fail("std::regex refuses a compiled pattern", pattern.source(), target);
  }
  const std::string text(target);
  std::smatch match;
  const bool expected = std::regex_match(text, match, expression);
  if (expected != matched) Fail("match differs from std::regex_match", pattern.source(), target);
  if (!matched) return;
  for (size_t i = 0; i < captures.size(); ++i) {
    if (match[i + 1].str() != captures[i]) Fail("capture differs", pattern.source(), target);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto method = static_cast<qmx::HttpMethod>(data[0] % 9);
  const std::string_view rest = qmx::fuzz::AsText(data + 1, size - 1);
  const size_t cut = rest.find('\n');
  const std::string_view templateText = rest.substr(0, cut);
  const std::string_view target = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

  const qmx::TranslatedTemplate translated = qmx::TranslateTemplate(templateText);
  if (auto pattern = qmx::RoutePattern::Compile(translated.pattern)) {
    CheckAgainstStdRegex(*pattern, target);
  }

  qmx::FunctionDescriptor function;
  function.name = "Fuzzed";
  const std::vector<qmx::Route> table = {
      qmx::MakeRoute(function.name, templateText, method, "call", &function),
      qmx::MakeRoute(function.name, "/fixed/{id}/{+rest}", qmx::HttpMethod::kNone, "", &function),
      qmx::MakeRoute(function.name, "/fixed", qmx::HttpMethod::kGet, "", &function)};
  qmx::ParameterMap parameters;
  if (qmx::MatchRoute(table[0], target, parameters)) {
    size_t decoded = 0;
    for (const auto& [name, value] : parameters) decoded += value.size();
    if (decoded > target.size()) Fail("decoded parameters longer than the target", templateText, target);
  }
  qmx::MatchState state;
  state.method = method;
  state.callName = "call";
  state.target = target;
  if (qmx::SelectRoute(table, state) && state.matchedFunction != &function) std::abort();
  qmx::MatchState any;
  any.target = target;
  (void)qmx::SelectRoute(table, any, true);

  const std::string decoded = qmx::PercentDecode(target);
  if (decoded.size() > target.size()) Fail("PercentDecode grew the text", "", target);
  for (const auto& [name, value] : qmx::ParseQuery(target)) {
    if (name.size() + value.size() > target.size()) Fail("query pair longer than the target", "", target);
  }
  (void)qmx::NormalizeEndpointPath(templateText);
  (void)qmx::EndpointFunctionName(method, templateText);
  return 0;
}
