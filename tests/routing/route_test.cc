#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

#include "routing/route.h"

namespace qmx {
namespace {

// Distinct addresses stand in for the functions of a table.
const FunctionDescriptor* Function(int n) {
  static char slots[8];
  return reinterpret_cast<const FunctionDescriptor*>(&slots[n]);
}

TEST(TranslateTemplateTest, PatternsAndPlaceholders) {
  using K = PlaceholderKind;
  struct Case {
    const char* text;
    const char* pattern;
    std::vector<Placeholder> parameters;
  };
  const Case cases[] = {
      {"/items/{id}", "/items/([^/]*)", {{K::kSimple, "id"}}},
      {"/files/{+path}", "/files/(.*)", {{K::kReserved, "path"}}},
      {"/doc{#frag}", "/doc#(.*)", {{K::kFragment, "frag"}}},
      {"/v1.0/{x}", "/v1\\.0/([^/]*)", {{K::kSimple, "x"}}},
      {"^$.*+?()[]|\\-/#{a}", "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\-/#([^/]*)", {{K::kSimple, "a"}}},
      {"/{a+b}", "/([^/]*)", {{K::kSimple, "a+b"}}},          // '+' only switches as the first character
      {"/{+#x}", "/(.*)", {{K::kReserved, "#x"}}},
      {"/{a{b}", "/([^/]*)", {{K::kSimple, "ab"}}},           // a second '{' keeps the name
      {"/a}/{b}", "/a/([^/]*)", {{K::kStray, ""}, {K::kSimple, "b"}}},
      {"/{open", "/", {}},                                     // unclosed placeholder adds nothing
  };
  for (const Case& c : cases) {
    TranslatedTemplate t = TranslateTemplate(c.text);
    EXPECT_EQ(t.pattern, c.pattern) << c.text;
    EXPECT_EQ(t.parameters, c.parameters) << c.text;
    EXPECT_NE(RoutePattern::Compile(t.pattern), nullptr) << c.text;
  }
}

TEST(RouteMatchTest, TargetsAndParameters) {
  struct Case {
    const char* routeTemplate;
    const char* target;
    bool matches;
    ParameterMap parameters;
  };
  const Case cases[] = {
      {"/a/{x}", "/a/b%20c", true, {{"x", "b c"}}},
      {"/a/{x}", "/a/b/c", false, {}},
      {"/a/{x}", "/a/", true, {{"x", ""}}},
      {"/a/{+rest}", "/a/b/c", true, {{"rest", "b/c"}}},
      {"/v1.0/{x}", "/v1x0/y", false, {}},
      {"/v1.0/{x}", "/v1.0/y", true, {{"x", "y"}}},
      {"/a/{x}", "/a/x%4", true, {{"x", "x4"}}},
      {"/a/{x}", "/a/a+b", true, {{"x", "a b"}}},
      {"/a/{x}", "/a/b?q=1", true, {{"x", "b?q=1"}}},         // the query is captured with the segment
      {"/a/{x}/{x}", "/a/1/2", true, {{"x", "2"}}},           // the later capture wins
      {"/doc{#frag}", "/doc#a/b", true, {{"frag", "a/b"}}},
      {"/doc{#frag}", "/doc", false, {}},
      {"/{a}{b}", "/xy", true, {{"a", "xy"}, {"b", ""}}},    // the first group is greedy
      {"/{+a}/{b}", "/x/y/z", true, {{"a", "x/y"}, {"b", "z"}}},
      {"/items", "/items", true, {}},
      {"/items", "/Items", false, {}},
      {"/items", "/items/", false, {}},
      {"/items", "/items?x", false, {}},
      {"", "", false, {}},                                      // an empty template never matches
      {"/a}/{b}", "/a/z", true, {{"", "z"}}},                  // stray '}' shifts the names
  };
  for (const Case& c : cases) {
    Route route = MakeRoute("f", c.routeTemplate, HttpMethod::kNone, "", Function(0));
    ParameterMap parameters;
    EXPECT_EQ(MatchRoute(route, c.target, parameters), c.matches)
        << c.routeTemplate << " " << c.target;
    if (c.matches) {
      EXPECT_EQ(parameters, c.parameters) << c.routeTemplate << " " << c.target;
    }
  }
}

TEST(PercentDecodeTest, Cases) {
  const std::pair<const char*, std::string> cases[] = {
      {"", ""},         {"a%20b", "a b"},      {"%41%62", "Ab"},     {"%4a%4A", "JJ"},
      {"x%4", "x4"},    {"x%", "x"},           {"%", ""},            {"a+b", "a b"},
      {"%zz!", "?!"},   {"%2B", "+"},          {"%00", std::string(1, '\0')},
  };
  for (const auto& [text, decoded] : cases) EXPECT_EQ(PercentDecode(text), decoded) << text;
}

TEST(SelectRouteTest, TieBreakStopAndMethods) {
  struct Entry {
    const char* routeTemplate;
    HttpMethod method;
    const char* callName;
  };
  struct Case {
    std::vector<Entry> table;
    HttpMethod method;
    const char* callName;
    const char* target;
    int winner;  // -1: nothing found
    bool ignoreMethods;
  };
  const HttpMethod kAny = HttpMethod::kNone, kGet = HttpMethod::kGet, kPost = HttpMethod::kPost,
                   kCall = HttpMethod::kCall;
  const Case cases[] = {
      {{{"/a/{x}", kAny, ""}, {"/{y}/b", kAny, ""}}, kGet, "", "/a/b", 0, false},        // equal sums: first stays
      {{{"/{y}/bc", kAny, ""}, {"/ab/{x}", kAny, ""}}, kGet, "", "/ab/bc", 0, false},    // same sum again
      {{{"/{y}/b", kAny, ""}, {"/aaa/{x}", kAny, ""}}, kGet, "", "/aaa/b", 1, false},    // shorter capture wins
      {{{"/a/{x}", kAny, ""}, {"/a/b", kAny, ""}}, kGet, "", "/a/b", 1, false},          // literal beats a capture
      {{{"/a/b", kAny, ""}, {"/a/{x}", kAny, ""}}, kGet, "", "/a/b", 0, false},          // literal first stops
      {{{"/a/{x}", kAny, ""}, {"/a/", kAny, ""}}, kGet, "", "/a/", 0, false},            // empty capture stays
      {{{"/a/{x}", kPost, ""}, {"/a/{y}", kGet, ""}}, kGet, "", "/a/b", 1, false},
      {{{"/a/{x}", kPost, ""}}, kGet, "", "/a/b", 0, true},
      {{{"/a", kCall, "run"}}, kCall, "run", "/a", 0, false},
      {{{"/a", kCall, "run"}}, kCall, "walk", "/a", -1, false},
      {{{"/a", kAny, "ignored"}}, kCall, "walk", "/a", 0, false},
      {{{"/a/{x}", kAny, ""}}, kGet, "", "/b/c", -1, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<Route> table;
    for (size_t r = 0; r < c.table.size(); ++r) {
      const Entry& e = c.table[r];
      table.push_back(
          MakeRoute("f", e.routeTemplate, e.method, e.callName, Function(static_cast<int>(r))));
    }
    MatchState state;
    state.method = c.method;
    state.callName = c.callName;
    state.target = c.target;
    EXPECT_EQ(SelectRoute(table, state, c.ignoreMethods), c.winner >= 0) << "case " << i;
    EXPECT_EQ(state.matchedFunction, c.winner >= 0 ? Function(c.winner) : nullptr) << "case " << i;
    // A literal winner leaves no parameters, also after a capturing candidate.
    if (c.winner >= 0 && std::string_view(c.table[static_cast<size_t>(c.winner)].routeTemplate).find('{') ==
                             std::string_view::npos) {
      EXPECT_TRUE(state.parameters.empty()) << "case " << i;
    }
  }
}

TEST(EndpointNameTest, Generation) {
  struct Case {
    HttpMethod method;
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {HttpMethod::kGet, "/entitlements/v1/token", "GetEntitlementsV1Token"},
      {HttpMethod::kGet, "/items/{id}", "GetItemsById"},
      {HttpMethod::kPost, "/a-b/c_d", "PostABCD"},
      {HttpMethod::kDelete, "/x.y!z+w", "DeleteXYZW"},
      {HttpMethod::kOptions, "/{+rest}", "OptionsByRest"},
      {HttpMethod::kNone, "my-plugin_name", "MyPluginName"},
      {HttpMethod::kCall, "run", "Run"},
      {HttpMethod::kPut, "", "Put"},
  };
  for (const Case& c : cases) EXPECT_EQ(EndpointFunctionName(c.method, c.path), c.name) << c.path;
  EXPECT_EQ(NormalizeEndpointPath("/items/"), "/items");
  EXPECT_EQ(NormalizeEndpointPath("/"), "/");
  EXPECT_EQ(NormalizeEndpointPath("/items//"), "/items/");
}

// The matcher must agree with std::regex_match on the patterns templates
// produce. Inputs are short so that std::regex's recursion is harmless.
TEST(RoutePatternTest, AgreesWithStdRegex) {
  const char* pieces[] = {"a", "/", ".", "#", "{x}", "{+y}", "{#z}", "ab"};
  const char targetChars[] = {'a', 'b', '/', '.', '#', '\n', '\r', '\0'};
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string routeTemplate;
    int pieceCount = static_cast<int>(random() % 5);
    for (int i = 0; i < pieceCount; ++i) routeTemplate += pieces[random() % std::size(pieces)];
    TranslatedTemplate translated = TranslateTemplate(routeTemplate);
    auto pattern = RoutePattern::Compile(translated.pattern);
    ASSERT_NE(pattern, nullptr) << translated.pattern;
    std::regex regex(translated.pattern, std::regex::ECMAScript | std::regex::optimize);
    for (int t = 0; t < 20; ++t) {
      std::string target;
      int length = static_cast<int>(random() % 8);
      for (int i = 0; i < length; ++i) {
        target.push_back(targetChars[random() % std::size(targetChars)]);
      }
      std::smatch expected;
      bool expectedMatch = std::regex_match(target, expected, regex);
      std::vector<std::string_view> captures;
      ASSERT_EQ(pattern->FullMatch(target, captures), expectedMatch)
          << translated.pattern << " / " << target;
      if (!expectedMatch) continue;
      ASSERT_EQ(captures.size() + 1, expected.size());
      for (size_t g = 0; g < captures.size(); ++g) {
        EXPECT_EQ(captures[g], expected[g + 1].str()) << translated.pattern << " / " << target << " group " << g;
      }
    }
  }
}

// A backtracking matcher would not finish these within the test's time limit.
TEST(RoutePatternTest, LongTargetsAndManyPlaceholdersFinish) {
  const size_t kSize = 1 << 20;
  std::string many;
  for (int i = 0; i < 200; ++i) many += "{p" + std::to_string(i) + "}";
  std::string manySeparated;
  for (int i = 0; i < 200; ++i) manySeparated += "/{p" + std::to_string(i) + "}";
  const std::pair<std::string, std::string> cases[] = {
      {"/a/{x}", "/a/" + std::string(kSize, 'b')},
      {"/a/{x}", "/a/" + std::string(kSize, 'b') + "/"},
      {"/a/{+rest}", "/a/" + std::string(kSize, '/')},
      {"/{a}/{b}/{c}", std::string(kSize, '/')},
      {"/{a}x{b}x{c}y", "/" + std::string(kSize, 'x')},
      {"{+a}ab{+b}ab{+c}", std::string(kSize, 'a')},
      {many, std::string(kSize, 'q')},
      {manySeparated, std::string(kSize, '/')},
      {manySeparated, std::string(kSize / 2, 'q') + std::string(kSize / 2, '/')},
  };
  for (const auto& [routeTemplate, target] : cases) {
    Route route = MakeRoute("f", routeTemplate, HttpMethod::kNone, "", Function(0));
    ParameterMap parameters;
    MatchRoute(route, target, parameters);
  }
}

}  // namespace
}  // namespace qmx
