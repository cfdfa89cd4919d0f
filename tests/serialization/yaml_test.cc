#include "serialization/yaml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "serialization/json.h"
#include "serialization/json_round_trip.h"

namespace qmx {
namespace {

std::string AsJson(const ValueResult& result) { return WriteJson(result.value(), nullptr, nullptr); }

TEST(ReadYamlTest, Values) {
  struct Case {
    std::string text;
    const char* json;
  };
  const Case cases[] = {
      {"a: 1", "{\"a\":1}"},
      {"a: -1", "{\"a\":-1}"},
      {"a: \"1\"", "{\"a\":\"1\"}"},
      {"a: '1'", "{\"a\":\"1\"}"},
      {"a: 1.0", "{\"a\":1}"},
      {"a: 1.5", "{\"a\":1.5}"},
      {"a: 1e3", "{\"a\":1000}"},
      {"a: 0x1A", "{\"a\":26}"},
      {"a: 9007199254740993", "{\"a\":9007199254740992}"},
      {"a: 1e400", "{\"a\":\"1e400\"}"},
      {"a: 1e30", "{\"a\":1e30}"},  // integral but beyond 64 bits: kept as Float
      {"a: yes\nb: on\nc: Y\nd: YES\ne: yEs\nf: Off\ng: n", 
       "{\"a\":true,\"b\":true,\"c\":true,\"d\":true,\"e\":\"yEs\",\"f\":false,\"g\":false}"},
      {"a:\nb: ~\nc: null\nd: NULL\ne: nUll", "{\"a\":null,\"b\":null,\"c\":null,\"d\":null,\"e\":\"nUll\"}"},
      {"", ""},
      {"---\n...\n", ""},
      {"[1, 2, 3]", "[1,2,3]"},
      {"- a\n- [b, {c: d}]\n- {}\n- []", "[\"a\",[\"b\",{\"c\":\"d\"}],{},[]]"},
      {"a: |-\n  true\n", "{\"a\":true}"},
      {"a: !!str 12\nb: !!int -12\nc: !!int 0x10\nd: !!float 2\ne: !!bool yes\nf: !!int ''",
       "{\"a\":\"12\",\"b\":-12,\"c\":16,\"d\":2.0,\"e\":true,\"f\":0}"},
      {"a: 1\na: 2", "{\"a\":2}"},
      {"a: {x: 1}\na: [2]", "{\"a\":[2]}"},
      {"\"\": 1\nb: 2", "{\"\":1,\"b\":2}"},
      {"!!str k: v", "{\"k\":\"v\"}"},
      // Aliases copy the anchored node; an anchored key gives its text.
      {"a: &x [1]\nb: *x", "{\"a\":[1],\"b\":[1]}"},
      {"&k key: v\nb: *k", "{\"b\":\"key\",\"key\":\"v\"}"},
      {"a: {b: &x 1}\nc: [*x, *x]", "{\"a\":{\"b\":1},\"c\":[1,1]}"},
      {"a: &x {b: [1, {c: 2}]}\na: *x", "{\"a\":{\"b\":[1,{\"c\":2}]}}"},
      {"a: {b: &x 5}\na: *x", "{\"a\":5}"},
      // Anchors inside mappings that are still open, before they are sorted.
      {"z: &x 1\ny: 2\na: *x", "{\"a\":1,\"y\":2,\"z\":1}"},
      {"m:\n  z: 0\n  y: &x [2]\n  a: *x\nb: *x", "{\"b\":[2],\"m\":{\"a\":[2],\"y\":[2],\"z\":0}}"},
      {"---\n---\na: 1", "{\"a\":1}"},
      // A repeated key re-opens a mapping; an alias inside it finds the
      // anchored name among the members written so far, in any order.
      {"a: {p: &x 1}\na:\n  z: 1\n  y: 2\n  p: 3\n  q: *x", "{\"a\":{\"p\":3,\"q\":3,\"y\":2,\"z\":1}}"},
      {"a: {p: &x 1}\na:\n  z: 1\n  q: *x", "{\"a\":{\"q\":null,\"z\":1}}"},
      {"a: {b: {p: &x 1}}\na:\n  b:\n    z: 1\n    p: [2]\n    q: *x", "{\"a\":{\"b\":{\"p\":[2],\"q\":[2],\"z\":1}}}"},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadYaml(c.text);
    ASSERT_TRUE(result.Ok()) << c.text << ": " << result.ErrorText();
    EXPECT_EQ(AsJson(result), c.json) << c.text;
    EXPECT_TRUE(test::JsonRoundTrips(result.value())) << c.text;
  }
}

// Small mappings find a repeated key by scanning, larger ones through an
// index built once they pass eight members; an anchor inside a large open
// mapping is found again by its member's name.
TEST(ReadYamlTest, RepeatedKeysInLargeMappings) {
  for (size_t count : {3u, 8u, 9u, 16u, 17u, 40u, 200u}) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += "k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    text += "k0: {x: 1}\n";                              // a later container replaces
    text += "k" + std::to_string(count - 1) + ": &last [a]\n";
    text += "copy: *last\n";
    ValueResult result = ReadYaml(text);
    ASSERT_TRUE(result.Ok()) << count << ": " << result.ErrorText();
    const Value& map = result.value();
    EXPECT_EQ(map.Size(), count + 1) << count;
    EXPECT_EQ(WriteJson(map.FindMember("k0"), nullptr, nullptr), "{\"x\":1}") << count;
    EXPECT_EQ(WriteJson(map.FindMember("k1"), nullptr, nullptr), "1") << count;
    EXPECT_EQ(WriteJson(map.FindMember("copy"), nullptr, nullptr), "[\"a\"]") << count;
  }
  // An anchored member of a mapping that a repeated key re-opens with
  // members in reverse order, small and large.
  for (size_t count : {3u, 8u, 9u, 40u}) {
    std::string text = "m: {k0: &x old}\nm:\n";
    for (size_t i = count; i-- > 0;) text += "  k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    text += "  copy: *x\n";
    ValueResult result = ReadYaml(text);
    ASSERT_TRUE(result.Ok()) << count << ": " << result.ErrorText();
    EXPECT_EQ(WriteJson(result.value().FindMember("m").FindMember("copy"), nullptr, nullptr), "0") << count;
  }
}

// Plain decimals take a fast exact conversion, every other number shape
// strtod: the kinds and doubles must be strtod's either way.
TEST(ReadYamlTest, NumbersReadAsStrtodReadsThem) {
  struct Case {
    const char* text;
    const char* json;
  };
  const Case cases[] = {
      {"1.5", "1.5"},     {"-0.25e3", "-250"}, {"1e2", "100"},     {"0.1", "0.1"},
      {"00.5", "0.5"},    {"1.", "1"},         {".5", "0.5"},      {"+1", "1"},
      {"1e400", "\"1e400\""}, {"-1e400", "null"}, {"0x10", "16"}, {"1.5x", "\"1.5x\""},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadYaml(c.text);
    ASSERT_TRUE(result.Ok()) << c.text << ": " << result.ErrorText();
    EXPECT_EQ(WriteJson(result.value(), nullptr, nullptr), c.json) << c.text;
  }
  std::mt19937_64 random(99);
  char buffer[64];
  for (int i = 0; i < 5000; ++i) {
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d) || std::fabs(d) < 1e-300) continue;
    std::snprintf(buffer, sizeof buffer, i % 2 ? "%.17g" : "%.6e", d * 1e-300 * (i % 7 ? 1e300 : 1));
    ValueResult result = ReadYaml(buffer);
    ASSERT_TRUE(result.Ok()) << buffer;
    if (result.value().Kind() != ValueKind::Float) continue;  // integral values become integers
    double expected = std::strtod(buffer, nullptr);
    double got = result.value().GetFloat();
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << buffer;
  }
}

// A number without a fractional part becomes an integer while one holds it;
// the test for a fractional part is cheaper below 2^63, so check both sides.
TEST(ReadYamlTest, IntegralNumbersAtTheEdgesOfEachTest) {
  struct Case {
    const char* text;
    ValueKind kind;
  };
  const Case cases[] = {
      {"9223372036854775807.0", ValueKind::Unsigned},  // 2^63 once rounded
      {"9223372036854775808", ValueKind::Unsigned},
      {"1.8446744073709550e19", ValueKind::Unsigned},
      {"18446744073709551616", ValueKind::Float},
      {"-9223372036854775808", ValueKind::Signed},
      {"-9223372036854777856", ValueKind::Float},
      {"4503599627370495.5", ValueKind::Float},
      {"-4503599627370495.5", ValueKind::Float},
      {"-0.0", ValueKind::Unsigned},
      {"-1.0", ValueKind::Signed},
      {"0.9999999999999999", ValueKind::Float},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadYaml(c.text);
    ASSERT_TRUE(result.Ok()) << c.text << ": " << result.ErrorText();
    const Value& v = result.value();
    ASSERT_EQ(v.Kind(), c.kind) << c.text;
    const double expected = std::strtod(c.text, nullptr);
    const double got = c.kind == ValueKind::Unsigned ? static_cast<double>(v.GetUnsigned())
                       : c.kind == ValueKind::Signed ? static_cast<double>(v.GetSigned())
                                                     : v.GetFloat();
    EXPECT_EQ(got, expected) << c.text;
  }
}

// A mapping key waits for its value: keys longer than a short string's
// inline storage before scalars, containers, aliases and repeated keys,
// anchored keys, and documents that fail while a key waits.
TEST(ReadYamlTest, LongKeysBeforeEveryKindOfValue) {
  const std::string longKey(40, 'k');
  const std::string text = longKey + ": 1\n" + longKey + "x: [a, {" + longKey + "y: &v 2}]\n" +
                           "&n " + longKey + "z: *v\n" + longKey + ": {" + longKey + ": 3}\n" +
                           "short: *n\n";
  ValueResult result = ReadYaml(text);
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  EXPECT_EQ(AsJson(result), "{\"" + longKey + "\":{\"" + longKey + "\":3},\"" + longKey + "x\":[\"a\",{\"" +
                                longKey + "y\":2}],\"" + longKey + "z\":2,\"short\":\"" + longKey + "z\"}");
  for (const std::string& failing :
       {longKey + ": [1, 2", longKey + ": *missing", "a: {" + longKey + ": ", longKey + ":\n  - [\n"}) {
    ValueResult failed = ReadYaml(failing);
    EXPECT_FALSE(failed.Ok()) << failing;
  }
}

TEST(ReadYamlTest, Kinds) {
  ValueResult result = ReadYaml("[1, -1, 1.5, nan, 5]");
  ASSERT_TRUE(result.Ok());
  const Value& v = result.value();
  EXPECT_EQ(v.At(0).Kind(), ValueKind::Unsigned);
  EXPECT_EQ(v.At(1).Kind(), ValueKind::Signed);
  EXPECT_EQ(v.At(2).Kind(), ValueKind::Float);
  EXPECT_TRUE(std::isnan(v.At(3).GetFloat()));
  EXPECT_EQ(ReadYaml("!!int 5").value().Kind(), ValueKind::Unsigned);
  EXPECT_EQ(ReadYaml("!!int -5").value().Kind(), ValueKind::Signed);
}

TEST(ReadYamlTest, Failures) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"a: 1\n---\nb: 2", "Multi-document YAML is not supported."},
      {"{[1]: 2}", "Unexpected start of sequence. At line: 1 col: 2"},
      {"{{a: 1}: 2}", "Unexpected start of mapping. At line: 1 col: 2"},
      {"{!!int 1: 2}", "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 2"},
      {"a: &x 1\n*x : 2", "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: &x [*x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 8"},
      {"a: &x {b: [*x]}", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 12"},
      {"a: 1\nb: *y", "Undefined alias encountered: \"y\". At line: 2 col: 4"},
      {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: 1\n&x b: 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 1"},
      {"a: !!int 12x", "Value 12x for 'yaml' of type uint64_t is in an incorrect format"},
      {"a: !!int -1x", "Value -1x for 'yaml' of type int64_t is in an incorrect format"},
      {"a: !!int 18446744073709551616", "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"a: !!int -9223372036854775809", "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"a: !!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"a: !!float x", "Value x for 'yaml' of type double is in an incorrect format"},
      {"a: !!bool maybe", "Value maybe for 'yaml' of type bool is in an incorrect format"},
      {"a: !foo x", "Unsupported YAML tag '!foo'."},
      {"a: !!map x", "Unsupported YAML tag 'tag:yaml.org,2002:map'."},
      {"a: [1", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a: b: c", "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      // The whole text reaches the parser: a NUL (a decoded %00) is refused,
      // not taken for the end of the text. libyaml's reader reports it
      // without a position.
      {std::string("a: 1\0b: 2", 9), "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
      {std::string("\0", 1), "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadYaml(c.text);
    EXPECT_FALSE(result.Ok()) << c.text;
    EXPECT_EQ(result.ErrorText(), c.message) << c.text;
    EXPECT_EQ(result.value().Size(), 1u);
  }
}

// True when every Structure in v has its members in name order and finds
// each of them by name.
bool SortedByName(const Value& v) {
  for (size_t i = 0; i < v.Size(); ++i) {
    if (v.Kind() == ValueKind::Collection && !SortedByName(v.At(i))) return false;
    if (v.Kind() != ValueKind::Structure) continue;
    if (i > 0 && !(v.MemberName(i - 1) < v.MemberName(i))) return false;
    if (&v.FindMember(v.MemberName(i)) != &v.MemberValue(i) || !SortedByName(v.MemberValue(i))) {
      return false;
    }
  }
  return true;
}

// An anchor's path may lead into a mapping that is still being read, when a
// repeated key has put a new mapping where the anchored node was. The alias
// copies that mapping as far as it has been read (its own slot, still Empty,
// included); the copy is a Structure like any other, in name order.
TEST(ReadYamlTest, AliasIntoAMappingBeingReadKeepsMembersInNameOrder) {
  struct Case {
    const char* text;
    const char* json;
    std::vector<std::string> slot;  // the alias's slot: member names, "0" for the first element
  };
  const Case cases[] = {
      {R"({"c": &x 1, "c": {"u": 1, "a": *x}})",
       R"({"c":{"a":{"a":null,"u":1},"u":1}})",
       {"c", "a"}},
      {"c: &x 1\nc:\n  u: 1\n  a: *x\n", R"({"c":{"a":{"a":null,"u":1},"u":1}})", {"c", "a"}},
      {"c: {d: &x 1}\nc: {d: {u: 1, w: 2, b: *x}}",
       R"({"c":{"d":{"b":{"b":null,"u":1,"w":2},"u":1,"w":2}}})",
       {"c", "d", "b"}},
      {"c: &x 1\nc: {u: {z: 1, y: 2}, a: [*x]}",
       R"({"c":{"a":[{"a":[null],"u":{"y":2,"z":1}}],"u":{"y":2,"z":1}}})",
       {"c", "a", "0"}},
      {"c: &x 1\nc: [{u: 1, a: *x}]",
       R"({"c":[{"a":[{"a":null,"u":1}],"u":1}]})",
       {"c", "0", "a", "0"}},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadYaml(c.text);
    ASSERT_TRUE(result.Ok()) << c.text << ": " << result.ErrorText();
    EXPECT_EQ(AsJson(result), c.json) << c.text;
    EXPECT_TRUE(SortedByName(result.value())) << c.text;
    const Value* slot = &result.value();
    for (const std::string& step : c.slot) {
      slot = step == "0" ? &slot->At(0) : &slot->FindMember(step);
    }
    EXPECT_NE(slot->FindMember("u").Kind(), ValueKind::Empty) << c.text;
  }
}

TEST(ReadYamlTest, Limits) {
  std::string ok(kMaxNestingDepth, '[');
  ok += std::string(kMaxNestingDepth, ']');
  EXPECT_TRUE(ReadYaml(ok).Ok()) << ReadYaml(ok).ErrorText();

  std::string deep(100000, '[');
  ValueResult refused = ReadYaml(deep);
  EXPECT_EQ(refused.ErrorText(), "Nesting deeper than 1000 levels is not supported. At line: 1 col: " +
                                     std::to_string(kMaxNestingDepth + 1));

  // An alias may not carry nesting past the limit either.
  std::string nested = "a: &x " + std::string(600, '[') + std::string(600, ']') + "\nb: " +
                       std::string(500, '[') + "*x" + std::string(500, ']');
  EXPECT_FALSE(ReadYaml(nested).Ok());

  // Aliases of aliases grow exponentially; the copy budget stops them.
  std::string laughs = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  std::string previous = "a";
  for (char name = 'b'; name <= 'j'; ++name) {
    std::string list;
    for (int i = 0; i < 10; ++i) list += (i ? ", *" : "*") + previous;
    laughs += std::string(1, name) + ": &" + std::string(1, name) + " [" + list + "]\n";
    previous = std::string(1, name);
  }
  ValueResult bomb = ReadYaml(laughs);
  EXPECT_FALSE(bomb.Ok());
  EXPECT_TRUE(bomb.ErrorText().starts_with("Alias \"")) << bomb.ErrorText();
}

}  // namespace
}  // namespace qmx
