// Repeated keys at every depth, in the three readers. A document is a series
// of writes: each member of a map is written through Member(name) in the
// order of the text, each scalar through its setter, each container by its
// reader's rule for a slot that holds something already:
//
//   JSON         an object keeps an earlier Structure (members merge), an
//                array keeps an earlier Collection (elements are appended);
//   MessagePack  a map keeps an earlier Structure, an array keeps an earlier
//                Collection and is written from element 0 again;
//   YAML         a mapping or sequence replaces whatever the slot held.
//
// The readers build maps in bulk and find or fold repeated names on their
// own; each must end where those writes end, with every Structure in name
// order.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "serialization/json.h"
#include "serialization/json_round_trip.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"

namespace qmx {
namespace {

// A document as the text gives it: members in text order, names repeating.
struct Node {
  enum Kind { Null, Number, Text, True, Map, List } kind = Null;
  unsigned number = 0;
  // Map: the members' names and values, in pairs.
  std::vector<std::string> names;
  std::vector<Node> values;
  void Add(std::string name, Node value) {
    names.push_back(std::move(name));
    values.push_back(std::move(value));
  }
  std::vector<Node> elements;  // List
};

Node RandomNode(std::mt19937& random, int depth) {
  Node node;
  unsigned pick = random() % (depth >= 4 ? 4 : 9);
  node.kind = pick < 4 ? static_cast<Node::Kind>(pick) : pick < 7 ? Node::Map : Node::List;
  node.number = random() % 100;
  if (node.kind == Node::Map) {
    // Few names, so that they repeat, and at times an empty map.
    for (unsigned i = random() % 5; i > 0; --i) {
      node.Add(std::string(1, static_cast<char>('a' + random() % 3)),
               RandomNode(random, depth + 1));
    }
  } else if (node.kind == Node::List) {
    for (unsigned i = random() % 4; i > 0; --i) {
      node.elements.push_back(RandomNode(random, depth + 1));
    }
  }
  return node;
}

enum class Reader { Json, MessagePack, Yaml };

// The writes the text stands for, into slot.
void Write(const Node& node, Reader reader, Value& slot) {
  switch (node.kind) {
    case Node::Null:
      slot.Reset();
      break;
    case Node::Number:
      if (reader == Reader::MessagePack) {
        slot.SetSigned(node.number);  // a positive fixint
      } else {
        slot.SetUnsigned(node.number);
      }
      break;
    case Node::Text:
      slot.SetString("s" + std::to_string(node.number));
      break;
    case Node::True:
      slot.SetBool(true);
      break;
    case Node::Map:
      if (reader == Reader::Yaml) slot.Reset();
      slot.MakeStructure();
      for (size_t i = 0; i < node.names.size(); ++i) {
        Write(node.values[i], reader, slot.Member(node.names[i]));
      }
      break;
    case Node::List:
      if (reader == Reader::Yaml) slot.Reset();
      slot.MakeCollection();
      for (size_t i = 0; i < node.elements.size(); ++i) {
        Value& element = reader == Reader::MessagePack ? slot.Element(i) : slot.Append();
        Write(node.elements[i], reader, element);
      }
      break;
  }
}

// JSON text, which is also the YAML flow text of the same writes.
std::string JsonText(const Node& node) {
  switch (node.kind) {
    case Node::Null:
      return "null";
    case Node::Number:
      return std::to_string(node.number);
    case Node::Text:
      return "\"s" + std::to_string(node.number) + "\"";
    case Node::True:
      return "true";
    case Node::Map: {
      std::string text = "{";
      for (size_t i = 0; i < node.names.size(); ++i) {
        const std::string& name = node.names[i];
        const Node& value = node.values[i];
        text += (text.size() > 1 ? ", \"" : "\"") + name + "\": " + JsonText(value);
      }
      return text + "}";
    }
    case Node::List: {
      std::string text = "[";
      for (const Node& element : node.elements) {
        text += (text.size() > 1 ? ", " : "") + JsonText(element);
      }
      return text + "]";
    }
  }
  return "";
}

// A map or array header: the fix form up to 15 items, else the 16-bit one.
void PackHeader(uint8_t fix, uint8_t wide, size_t count, std::vector<uint8_t>& out) {
  if (count <= 15) {
    out.push_back(static_cast<uint8_t>(fix | count));
  } else {
    out.insert(out.end(), {wide, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
  }
}

void Pack(const Node& node, std::vector<uint8_t>& out) {
  switch (node.kind) {
    case Node::Null:
      out.push_back(0xC0);
      break;
    case Node::Number:
      out.push_back(static_cast<uint8_t>(node.number));
      break;
    case Node::Text: {
      std::string text = "s" + std::to_string(node.number);
      out.push_back(static_cast<uint8_t>(0xA0 | text.size()));
      out.insert(out.end(), text.begin(), text.end());
      break;
    }
    case Node::True:
      out.push_back(0xC3);
      break;
    case Node::Map:
      PackHeader(0x80, 0xDE, node.names.size(), out);
      for (size_t i = 0; i < node.names.size(); ++i) {
        const std::string& name = node.names[i];
        const Node& value = node.values[i];
        out.push_back(static_cast<uint8_t>(0xA0 | name.size()));
        out.insert(out.end(), name.begin(), name.end());
        Pack(value, out);
      }
      break;
    case Node::List:
      PackHeader(0x90, 0xDC, node.elements.size(), out);
      for (const Node& element : node.elements) Pack(element, out);
      break;
  }
}

ValueResult Read(const Node& node, Reader reader) {
  switch (reader) {
    case Reader::Json:
      return ReadJson(JsonText(node));
    case Reader::Yaml:
      return ReadYaml(JsonText(node));
    case Reader::MessagePack: {
      std::vector<uint8_t> bytes;
      Pack(node, bytes);
      size_t consumed = 0;
      return DecodeMessagePack(bytes.data(), bytes.size(), consumed);
    }
  }
  return ValueResult();
}

// Kinds, scalars, element order and member names; fails on a Structure whose
// members are out of name order or cannot be found by name.
::testing::AssertionResult Same(const Value& got, const Value& expected,
                                const std::string& path = "$") {
  if (got.Kind() != expected.Kind()) {
    return ::testing::AssertionFailure()
           << path << ": " << KindName(got.Kind()) << " instead of " << KindName(expected.Kind());
  }
  if (got.Size() != expected.Size() || got.ToString() != expected.ToString()) {
    return ::testing::AssertionFailure()
           << path << ": size " << got.Size() << " '" << got.ToString() << "' instead of "
           << expected.Size() << " '" << expected.ToString() << "'";
  }
  for (size_t i = 0; i < got.Size() && got.Kind() == ValueKind::Collection; ++i) {
    auto same = Same(got.At(i), expected.At(i), path + "[" + std::to_string(i) + "]");
    if (!same) return same;
  }
  for (size_t i = 0; i < got.Size() && got.Kind() == ValueKind::Structure; ++i) {
    const std::string name(got.MemberName(i));
    if (i > 0 && !(got.MemberName(i - 1) < got.MemberName(i))) {
      return ::testing::AssertionFailure() << path << ": member '" << name << "' out of order";
    }
    if (&got.FindMember(name) != &got.MemberValue(i)) {
      return ::testing::AssertionFailure() << path << ": member '" << name << "' not found by name";
    }
    auto same = Same(got.MemberValue(i), expected.FindMember(name), path + "." + name);
    if (!same) return same;
  }
  return ::testing::AssertionSuccess();
}

TEST(RepeatedKeysTest, EveryReaderWritesThemInSequenceAtEveryDepth) {
  // The two documents of the report first: a later occurrence's own repeats
  // must not be folded before the occurrence merges into the earlier one.
  struct Case {
    const char* text;
    const char* json;  // what ReadJson gives, written back
  };
  const Case cases[] = {
      {R"({"a":{"b":[1]},"a":{"b":2,"b":[3]}})", R"({"a":{"b":[3]}})"},
      {R"({"a":{"b":{"x":1}},"a":{"b":9,"b":{}}})", R"({"a":{"b":{}}})"},
      {R"({"a":{"b":[1]},"a":{"b":[2],"b":[3]}})", R"({"a":{"b":[1,2,3]}})"},
      {R"({"a":{"b":{"x":1}},"a":{"b":null,"b":{"y":2}}})", R"({"a":{"b":{"y":2}}})"},
      {R"([{"k":{"a":{"b":[1]},"a":{"b":{},"b":[2]}},"k":{"a":{"b":[3]}}}])",
       R"([{"k":{"a":{"b":[2,3]}}}])"},
  };
  for (const Case& c : cases) {
    ValueResult read = ReadJson(c.text);
    ASSERT_TRUE(read.Ok()) << c.text << ": " << read.ErrorText();
    EXPECT_EQ(WriteJson(read.value(), nullptr, nullptr), c.json) << c.text;
  }

  // A fault after a repeated name is reported as it would be without one.
  EXPECT_EQ(ReadJson(R"({"a":1,"a":{"b":2}} x)").ErrorText(),
            "Error: The document root must not be followed by other values. at offset 20.");
  EXPECT_EQ(ReadJson(R"([{"a":1,"a":2},])").ErrorText(), "Error: Invalid value. at offset 15.");

  std::mt19937 random(27);
  for (int round = 0; round < 2000; ++round) {
    Node root;
    root.kind = Node::Map;
    for (unsigned i = 2 + random() % 6; i > 0; --i) {
      root.Add(std::string(1, static_cast<char>('a' + random() % 3)), RandomNode(random, 1));
    }
    for (Reader reader : {Reader::Json, Reader::MessagePack, Reader::Yaml}) {
      Value expected;
      Write(root, reader, expected);
      ValueResult read = Read(root, reader);
      ASSERT_TRUE(read.Ok()) << JsonText(root) << ": " << read.ErrorText();
      ASSERT_TRUE(Same(read.value(), expected))
          << "reader " << static_cast<int>(reader) << ", " << JsonText(root);
      if (reader == Reader::Json) {
        ASSERT_TRUE(test::JsonRoundTrips(read.value())) << JsonText(root);
      }
    }
  }
}

// An object that a repeated key opens again, with many new names in any
// order among names it holds already, some repeating in it, and values that
// merge again one level down.
TEST(RepeatedKeysTest, ObjectsOpenedAgainTakeManyNames) {
  std::mt19937 random(5);
  for (size_t earlier : {size_t{1}, size_t{40}, size_t{300}}) {
    for (size_t later : {size_t{31}, size_t{32}, size_t{33}, size_t{200}, size_t{1500}}) {
      Node root;
      root.kind = Node::Map;
      for (size_t occurrence = 0; occurrence < 3; ++occurrence) {
        Node object;
        object.kind = Node::Map;
        for (size_t i = 0, count = occurrence == 0 ? earlier : later; i < count; ++i) {
          Node value;
          value.kind = random() % 3 == 0 ? Node::Map : Node::Number;
          value.number = static_cast<unsigned>(i % 100);
          if (value.kind == Node::Map) {
            Node one;
            one.kind = Node::Number;
            one.number = 1;
            value.Add(random() % 2 ? "x" : "y", one);
          }
          // Descending names too: each new one sorts before all the others.
          const size_t name = random() % 2 ? random() % (2 * count) : 10000 - i;
          object.Add("n" + std::to_string(name), std::move(value));
        }
        root.Add("a", std::move(object));
      }
      for (Reader reader : {Reader::Json, Reader::MessagePack, Reader::Yaml}) {
        Value expected;
        Write(root, reader, expected);
        ValueResult read = Read(root, reader);
        ASSERT_TRUE(read.Ok()) << read.ErrorText();
        ASSERT_TRUE(Same(read.value(), expected)) << "reader " << static_cast<int>(reader) << ", "
                                                  << earlier << " then " << later << " names";
      }
    }
  }
}

// The block form of YAML takes the same way as the flow form.
TEST(RepeatedKeysTest, YamlBlockMappingsReplaceAtEveryDepth) {
  ValueResult read = ReadYaml("a:\n  b: [1]\na:\n  b: 2\n  b:\n    c: 3\n    c: [4]\n");
  ASSERT_TRUE(read.Ok()) << read.ErrorText();
  EXPECT_EQ(WriteJson(read.value(), nullptr, nullptr), R"({"a":{"b":{"c":[4]}}})");
}

}  // namespace
}  // namespace qmx
