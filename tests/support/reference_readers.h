// Reference readers: small, slow models of ReadJson and DecodeMessagePack that
// the differential tests and fuzz targets compare the fast readers with.
//
// Each one lets a plain library parser walk the input (RapidJSON's Reader with
// its default flags and byte loops; msgpack-cxx's stream parser) and builds the
// Value only through Member(name), Element(i) and the setters, in the order
// the input gives them. Nothing here shares code with src/serialization: a
// disagreement is a fault in one of the two, never in something they share.
//
// Where the fast readers follow a rule of their own rather than the format's,
// the reference follows it too and says so where it does (the nesting bound,
// how a number literal becomes a value). These are test helpers: they are
// never linked into the plugin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/value.h"

namespace qmx::reference {

// What the text asks of a repeated key's later container, and how a number
// literal becomes a value. The JSON rules are ReadJson's; the YAML rules are
// what ReadYaml gives for the same text read as flow YAML, so that the JSON
// reference can stand in for ReadYaml on JSON-compatible text.
struct Rules {
  // false: a later object merges into an earlier Structure and a later array
  // appends to an earlier Collection (MakeStructure and MakeCollection keep
  // them). true: the later container replaces the earlier value.
  bool containersReplace = false;
  // false: integers keep their sign as the kind, everything else is the
  // nearest double. true: every number literal goes through strtod; without a
  // fractional part it becomes Unsigned (not negative) or Signed.
  bool numbersThroughDouble = false;
};

inline constexpr Rules kJsonRules{};
inline constexpr Rules kYamlRules{true, true};

// Facts about the input that the reference noticed on the way. Tests use them
// to name the known faults a disagreement belongs to.
struct Notes {
  // A key repeats inside an object that is a repeated key's later value (at
  // any depth inside it), where the later writes must replace earlier ones.
  bool repeatedKeyInReopenedObject = false;
  // A number whose value the YAML rules leave open (an integral double outside
  // the 64-bit range).
  bool numberLeftOpen = false;
};

// ReadJson's model. The text ends at its first NUL. Failures carry ReadJson's
// message, "Error: <reason> at offset <n>.", with RapidJSON's byte-wise offset.
ValueResult ReadJson(std::string_view text, Rules rules = kJsonRules, Notes* notes = nullptr);

// True when this build has msgpack-cxx (the Windows builds have none).
bool HaveMessagePack();

// DecodeMessagePack's model: the same value, the same success or failure and,
// on success, the same consumed count. Failure messages are the reference's
// own ("reference: ..."); only the fact of failure is compared. Without
// msgpack-cxx it fails every input.
ValueResult DecodeMessagePack(const uint8_t* data, size_t size, size_t& consumed,
                              Notes* notes = nullptr);

// The first difference between two values as "<path>: <what>", or "" when they
// are equal: the same kinds, scalars (Floats bit for bit, any NaN equals any
// NaN), bytes, element order, and member names in the same order.
std::string Difference(const Value& expected, const Value& actual);

// Difference over results: the same Ok(), and then the same value. With
// compareErrors false, two failures are equal whatever their messages.
std::string Difference(const ValueResult& expected, const ValueResult& actual, bool compareErrors);

// The comparisons the differential tests and fuzz targets make. Each returns
// "" when the reader agrees with its reference on the input, and otherwise
// what differs. notes receives what the reference noticed.
//
// ReadJson and the JSON reference: the same value, or the same message.
std::string CompareReadJson(std::string_view text, Notes* notes = nullptr);
// DecodeMessagePack and its reference: the same success or failure, and on
// success the same value and consumed count. "" without msgpack-cxx.
std::string CompareDecodeMessagePack(const uint8_t* data, size_t size, Notes* notes = nullptr);
// ReadYaml and the JSON reference under the YAML rules, on text the JSON
// reference accepts (flow YAML is a superset of most JSON): the same value.
// Text that libyaml refuses ("YAML parser error: ...") is not compared, nor a
// number whose YAML value is left open.
std::string CompareReadYamlWithJson(std::string_view text, Notes* notes = nullptr);

// Flow YAML with anchors and aliases, written together with the value ReadYaml
// must build for it: every node written into its slot in text order through
// Member() and Element(), an alias a copy of what its anchor's path leads to
// at that moment, a repeated key's later value replacing the earlier one
// (containers too). Repeated keys make anchors whose path leads into a mapping
// that is still being read. Aliases stay within ReadYaml's size and nesting
// budgets, so a document never fails.
class YamlDocuments {
 public:
  // choose gives every decision: a seeded generator in the tests, the input
  // in the fuzz target.
  explicit YamlDocuments(std::function<uint32_t()> choose) : choose_(std::move(choose)) {}

  // A document and, in expected, its value. aliasesOpenMapping tells whether
  // an alias copied a mapping that was still open.
  std::string Document(Value& expected, bool& aliasesOpenMapping);

 private:
  struct Step {
    bool name;
    std::string key;
    size_t index;
  };
  struct Anchor {
    std::string name;
    std::vector<Step> path;
    bool open;  // its node is still being read: an alias of it is cyclic
  };

  const Value* Walk(const std::vector<Step>& path) const;
  void MaybeAnchor(std::vector<size_t>& mine);
  bool Alias(Value& slot, size_t depth);
  void Write(Value& slot, size_t depth, int levels);

  std::function<uint32_t()> choose_;
  Value* root_ = nullptr;
  std::string text_;
  std::vector<Anchor> anchors_;
  std::vector<Step> path_;
  std::vector<const Value*> open_;
  size_t copied_ = 0;
  bool aliasesOpenMapping_ = false;
};

// A value as JSON-like text that shows every kind (u1, s-1, f1.5, b"AQI="),
// cut after about limit characters.
std::string Describe(const Value& value, size_t limit = 600);

}  // namespace qmx::reference
