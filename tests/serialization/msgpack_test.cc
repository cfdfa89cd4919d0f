#include "serialization/msgpack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serialization/json.h"
#include "serialization/json_round_trip.h"

namespace qmx {
namespace {

ValueResult Decode(const std::vector<uint8_t>& bytes, size_t& consumed) {
  return DecodeMessagePack(bytes.data(), bytes.size(), consumed);
}

TEST(DecodeMessagePackTest, Items) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* json;  // the decoded value written as compact JSON
    ValueKind kind;
    size_t consumed;
  };
  const Case cases[] = {
      {{0x05}, "5", ValueKind::Signed, 1},
      {{0xCC, 0x05}, "5", ValueKind::Unsigned, 2},
      {{0xFF}, "-1", ValueKind::Signed, 1},
      {{0xE0}, "-32", ValueKind::Signed, 1},
      {{0xD0, 0x80}, "-128", ValueKind::Signed, 2},
      {{0xD1, 0xFF, 0xFE}, "-2", ValueKind::Signed, 3},
      {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "-9223372036854775808", ValueKind::Signed, 9},
      {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "18446744073709551615",
       ValueKind::Unsigned, 9},
      {{0xCA, 0x3F, 0x00, 0x00, 0x00}, "0.5", ValueKind::Float, 5},
      {{0xCB, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}, "-1.0", ValueKind::Float, 9},
      {{0xC3}, "true", ValueKind::Bool, 1},
      {{0xA2, 'h', 'i'}, "\"hi\"", ValueKind::String, 3},
      {{0xDA, 0x00, 0x01, 'x'}, "\"x\"", ValueKind::String, 4},
      {{0xC4, 0x02, 0x00, 0xFF}, "\"AP8=\"", ValueKind::Blob, 4},
      {{0x92, 0x01}, "[1]", ValueKind::Collection, 2},
      {{0x91, 0xC0}, "[null]", ValueKind::Collection, 2},
      {{0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}, "{\"a\":2,\"b\":1}", ValueKind::Structure, 7},
      {{0x01, 0x02}, "1", ValueKind::Signed, 1},
      {{}, "", ValueKind::Empty, 0},
      {{0xC0}, "", ValueKind::Empty, 1},
      {{0xDC, 0x00, 0x00, 0x07}, "[]", ValueKind::Collection, 3},
      // Repeated keys: a scalar replaces, a later array overwrites from index 0
      // and keeps surplus elements, a later map adds members.
      {{0x83, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03, 0xA1, 'm', 0xC3},
       "{\"a\":[3,2],\"m\":true}", ValueKind::Structure, 13},
      {{0x82, 0xA1, 'm', 0x81, 0xA1, 'x', 0x01, 0xA1, 'm', 0x81, 0xA1, 'y', 0x02},
       "{\"m\":{\"x\":1,\"y\":2}}", ValueKind::Structure, 13},
      {{0x84, 0xA1, 'c', 0x01, 0xA1, 'b', 0x02, 0xA1, 'c', 0x03, 0xA1, 'a', 0x81, 0xA1, 'z', 0xC0},
       "{\"a\":{\"z\":null},\"b\":2,\"c\":3}", ValueKind::Structure, 16},
      // Announced sizes far beyond the input keep what was read.
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, "[1]", ValueKind::Collection, 6},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'k', 0x01}, "{\"k\":1}", ValueKind::Structure, 8},
  };
  for (const Case& c : cases) {
    size_t consumed = 99;
    ValueResult result = Decode(c.bytes, consumed);
    ASSERT_TRUE(result.Ok()) << c.json << ": " << result.ErrorText();
    EXPECT_EQ(result.value().Kind(), c.kind) << c.json;
    EXPECT_EQ(WriteJson(result.value(), nullptr, nullptr), c.json);
    EXPECT_TRUE(test::JsonRoundTrips(result.value())) << c.json;
    EXPECT_EQ(consumed, c.consumed) << c.json;
  }
}

// Small maps find a repeated key by scanning, larger ones through an index
// built once they pass eight members: both must land on the earlier member,
// whether it repeats before or after the switch.
TEST(DecodeMessagePackTest, RepeatedKeysInLargeMaps) {
  for (size_t count : {3u, 8u, 9u, 16u, 17u, 40u, 200u}) {
    std::vector<uint8_t> bytes = {0xDE, 0x00, static_cast<uint8_t>(count + 2)};
    auto key = [&](const std::string& name) {
      bytes.push_back(static_cast<uint8_t>(0xA0 | name.size()));
      bytes.insert(bytes.end(), name.begin(), name.end());
    };
    for (size_t i = 0; i < count; ++i) {
      key("k" + std::to_string(i));
      bytes.push_back(static_cast<uint8_t>(i % 128));  // a positive fixint
    }
    key("k0");  // a scalar replaces the first member
    bytes.push_back(0x7F);
    key("k" + std::to_string(count - 1));  // and the last one
    bytes.push_back(0xC3);
    size_t consumed = 0;
    ValueResult result = Decode(bytes, consumed);
    ASSERT_TRUE(result.Ok()) << count << ": " << result.ErrorText();
    const Value& map = result.value();
    EXPECT_EQ(map.Size(), count) << count;
    EXPECT_EQ(map.FindMember("k0").GetSigned(), 127) << count;
    EXPECT_EQ(map.FindMember("k" + std::to_string(count - 1)).Kind(), ValueKind::Bool) << count;
    EXPECT_EQ(map.FindMember("k1").GetSigned(), 1) << count;
    EXPECT_EQ(consumed, bytes.size()) << count;
  }
}

// Maps that close hand their index to the next map: a later sibling and a
// map nested in a large one each see only their own members.
TEST(DecodeMessagePackTest, EachMapFindsOnlyItsOwnRepeatedKeys) {
  std::vector<uint8_t> bytes = {0x93};
  auto key = [&](const std::string& name) {
    bytes.push_back(static_cast<uint8_t>(0xA0 | name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
  };
  auto largeMap = [&](uint8_t entries) {
    bytes.insert(bytes.end(), {0xDE, 0x00, entries});
    for (uint8_t i = 0; i < 20; ++i) {
      key("k" + std::to_string(i));
      bytes.push_back(i);
    }
  };
  largeMap(20);
  largeMap(22);
  key("inner");  // a small map inside the large one, holding names of the outer
  bytes.insert(bytes.end(), {0x82});
  key("k3");
  bytes.push_back(0x33);
  key("k3");
  bytes.push_back(0x34);
  key("k5");  // repeats a member of the outer map after the inner one closed
  bytes.push_back(0x7F);
  bytes.insert(bytes.end(), {0x81});
  key("k1");
  bytes.push_back(0x11);
  size_t consumed = 0;
  ValueResult result = Decode(bytes, consumed);
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  const Value& list = result.value();
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.At(0).Size(), 20u);
  EXPECT_EQ(list.At(0).FindMember("k5").GetSigned(), 5);
  EXPECT_EQ(list.At(1).Size(), 21u);
  EXPECT_EQ(list.At(1).FindMember("k5").GetSigned(), 127);
  EXPECT_EQ(WriteJson(list.At(1).FindMember("inner"), nullptr, nullptr), "{\"k3\":52}");
  EXPECT_EQ(WriteJson(list.At(2), nullptr, nullptr), "{\"k1\":17}");
  EXPECT_EQ(consumed, bytes.size());
}

// Nested maps holding the names of the maps around them, at several depths,
// repeating names before and after each inner map closes.
TEST(DecodeMessagePackTest, NestedMapsSharingNames) {
  // {"a":1,"m":{"a":2,"n":{"a":3,"b":4,"a":5},"a":6},"b":7,"a":8}
  std::vector<uint8_t> bytes = {0x84, 0xA1, 'a', 0x01, 0xA1, 'm', 0x83, 0xA1, 'a', 0x02,
                                0xA1, 'n', 0x83, 0xA1, 'a', 0x03, 0xA1, 'b', 0x04, 0xA1,
                                'a', 0x05, 0xA1, 'a', 0x06, 0xA1, 'b', 0x07, 0xA1, 'a', 0x08};
  // The same shape twice in an array: the second map's names carry the marks
  // of the first.
  std::vector<uint8_t> twice = {0x92};
  twice.insert(twice.end(), bytes.begin(), bytes.end());
  twice.insert(twice.end(), bytes.begin(), bytes.end());
  const char* json = "{\"a\":8,\"b\":7,\"m\":{\"a\":6,\"n\":{\"a\":5,\"b\":4}}}";
  size_t consumed = 0;
  ValueResult one = Decode(bytes, consumed);
  ASSERT_TRUE(one.Ok()) << one.ErrorText();
  EXPECT_EQ(WriteJson(one.value(), nullptr, nullptr), json);
  ValueResult two = Decode(twice, consumed);
  ASSERT_TRUE(two.Ok()) << two.ErrorText();
  EXPECT_EQ(WriteJson(two.value(), nullptr, nullptr), "[" + std::string(json) + "," + json + "]");
  EXPECT_EQ(consumed, twice.size());

  // The empty name repeats like any other, also around a nested map.
  std::vector<uint8_t> empty = {0x83, 0xA0, 0x01, 0xA1, 'x', 0x81, 0xA0, 0x02, 0xA0, 0x03};
  ValueResult three = Decode(empty, consumed);
  ASSERT_TRUE(three.Ok()) << three.ErrorText();
  EXPECT_EQ(WriteJson(three.value(), nullptr, nullptr), "{\"\":3,\"x\":{\"\":2}}");
}

// Maps nested deeper than the levels the decoder keeps in place, each level
// repeating the names of the levels around it (so that marks are saved and
// put back across that boundary), read like the same document in JSON; so
// does an input that ends inside them.
TEST(DecodeMessagePack, DeepMapsSharingNamesMatchJson) {
  for (int depth : {15, 16, 17, 40}) {
    std::vector<uint8_t> bytes;
    std::string json;
    for (int level = 0; level < depth; ++level) {
      // {"a":level,"m":{...},"a":-level}: the repeated "a" keeps the last.
      bytes.insert(bytes.end(), {0x83, 0xA1, 'a', static_cast<uint8_t>(level), 0xA1, 'm'});
      json += "{\"a\":" + std::to_string(level) + ",\"m\":";
    }
    bytes.push_back(0xC0);
    json += "null";
    for (int level = depth; level-- > 0;) {
      bytes.insert(bytes.end(), {0xA1, 'a', static_cast<uint8_t>(0xE0 | (level & 0x1F))});
      json += ",\"a\":" + std::to_string(static_cast<int>(static_cast<int8_t>(0xE0 | (level & 0x1F)))) + "}";
    }
    size_t consumed = 0;
    ValueResult decoded = Decode(bytes, consumed);
    ASSERT_TRUE(decoded.Ok()) << decoded.ErrorText();
    ValueResult read = ReadJson(json);
    ASSERT_TRUE(read.Ok()) << read.ErrorText();
    EXPECT_EQ(WriteJson(decoded.value(), nullptr, nullptr), WriteJson(read.value(), nullptr, nullptr))
        << depth;
    EXPECT_EQ(consumed, bytes.size());
    // Cut inside the innermost maps: what was read stays, in order.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(6 * depth - 2));
    ValueResult partial = Decode(cut, consumed);
    ASSERT_TRUE(partial.Ok()) << partial.ErrorText();
    EXPECT_EQ(partial.value().FindMember("a").GetSigned(), 0) << depth;
  }
}

// New arrays take their elements in batches of the announced count; arrays
// longer than a batch, and arrays the input ends inside (also nested ones,
// which leave the outer array's batch short), keep exactly what was read.
TEST(DecodeMessagePackTest, ArraysInBatches) {
  for (size_t count : {255u, 256u, 257u, 600u}) {
    std::vector<uint8_t> bytes = {0xDC, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(i % 128));
    size_t consumed = 0;
    ValueResult result = Decode(bytes, consumed);
    ASSERT_TRUE(result.Ok()) << count;
    ASSERT_EQ(result.value().Size(), count);
    EXPECT_EQ(result.value().At(count - 1).GetSigned(), static_cast<int64_t>((count - 1) % 128));
    bytes.resize(bytes.size() - 1);  // the last element never comes
    ValueResult cut = Decode(bytes, consumed);
    ASSERT_TRUE(cut.Ok()) << count;
    EXPECT_EQ(cut.value().Size(), count - 1);
    EXPECT_EQ(consumed, bytes.size());
  }
  const struct {
    std::vector<uint8_t> bytes;
    const char* json;
  } cases[] = {
      {{0x93, 0x01}, "[1]"},
      {{0x93, 0x93, 0x01, 0x02, 0x03, 0x93, 0x04}, "[[1,2,3],[4]]"},
      {{0x93, 0x92, 0x92, 0x01}, "[[[1]]]"},
      {{0x92, 0x81, 0xA1, 'k', 0x93, 0x05}, "[{\"k\":[5]}]"},
      {{0x93, 0x90, 0x91, 0x90, 0x07}, "[[],[[]],7]"},
  };
  for (const auto& c : cases) {
    size_t consumed = 0;
    ValueResult result = Decode(c.bytes, consumed);
    ASSERT_TRUE(result.Ok()) << c.json;
    EXPECT_EQ(WriteJson(result.value(), nullptr, nullptr), c.json);
    EXPECT_EQ(consumed, c.bytes.size()) << c.json;
  }
}

TEST(DecodeMessagePackTest, Failures) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
    size_t consumed;
  };
  const Case cases[] = {
      {{0xC1}, "Invalid MessagePack data at position 1.", 1},
      {{0x91, 0xD4, 0x01, 0x10}, "Invalid MessagePack data at position 2.", 2},
      {{0xC7, 0x01, 0x01, 0x10}, "Invalid MessagePack data at position 1.", 1},
      {{0x81, 0x01, 0x02}, "Invalid MessagePack data at position 2. Map keys must be strings.", 2},
      {{0x81, 0xA1, 'a', 0x01, 0x81}, "", 4},  // complete item; trailing byte not read
      {{0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.", 1},
      {{0xCD, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.", 1},
      {{0xCA, 0, 0}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.", 1},
      {{0xCB, 0}, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.", 1},
      {{0xDA, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.", 1},
      {{0xA3, 'a', 'b'}, "Invalid MessagePack data. String of size 3 at position 1 is truncated.", 1},
      {{0x81, 0xD9, 0x05, 'a'},
       "Invalid MessagePack data. String of size 5 at position 3 is truncated.", 3},
      {{0xC4, 0x02, 0x00},
       "Invalid MessagePack data. Raw bytes of size 2 at position 2 are truncated.", 2},
      // Lengths near 2^32 must not wrap the position on 32-bit builds.
      {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.", 5},
      {{0xC6, 0xFF, 0xFF, 0xFF, 0xFE, 0x00},
       "Invalid MessagePack data. Raw bytes of size 4294967294 at position 5 are truncated.", 5},
  };
  for (const Case& c : cases) {
    size_t consumed = 99;
    ValueResult result = Decode(c.bytes, consumed);
    EXPECT_EQ(result.ErrorText(), c.message);
    EXPECT_EQ(result.Ok(), *c.message == '\0') << c.message;
    EXPECT_EQ(consumed, c.consumed) << c.message;
  }
}

TEST(DecodeMessagePackTest, NestingLimit) {
  std::vector<uint8_t> ok(kMaxNestingDepth, 0x91);
  ok.push_back(0x01);
  size_t consumed = 0;
  ValueResult fine = Decode(ok, consumed);
  EXPECT_TRUE(fine.Ok()) << fine.ErrorText();
  EXPECT_EQ(consumed, ok.size());

  std::vector<uint8_t> deep(200000, 0x91);
  ValueResult refused = Decode(deep, consumed);
  EXPECT_FALSE(refused.Ok());
  EXPECT_EQ(consumed, kMaxNestingDepth + 1);
  EXPECT_EQ(refused.ErrorText(), "Invalid MessagePack data at position " +
                                     std::to_string(kMaxNestingDepth + 1) +
                                     ". Containers are nested deeper than 1000 levels.");
}

}  // namespace
}  // namespace qmx
