// Boundary records of every shape a host can hand over, well formed or not,
// built in storage the test owns (nothing here is released by the plugin).
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "interface/host_api.h"

namespace qmx::test {

inline HostValue Buffer(uint32_t kind, const void* data, uint32_t length) {
  HostValue value{};
  value.kind = kind;
  value.payload.buffer.data = const_cast<void*>(data);
  value.payload.buffer.length = length;
  return value;
}

inline HostValue Scalar(uint32_t kind, uint64_t bits) {
  HostValue value{};
  value.kind = kind;
  value.payload.unsignedValue = bits;
  return value;
}

inline HostValue Text(const char* text) {
  return Buffer(HostValueStringRef, text,
                text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0);
}

inline HostMember Member(const char* name, HostValue value) {
  HostMember member{};
  member.name = name;
  member.value = value;
  return member;
}

// Owns the arrays behind the records it makes; they stay valid as long as the
// store does.
class RecordStore {
 public:
  HostValue Collection(std::vector<HostValue> elements) {
    auto& stored = collections_.emplace_back(std::move(elements));
    return Buffer(HostValueCollection, stored.data(), static_cast<uint32_t>(stored.size()));
  }
  HostValue Structure(std::vector<HostMember> members) {
    auto& stored = structures_.emplace_back(std::move(members));
    return Buffer(HostValueStructure, stored.data(), static_cast<uint32_t>(stored.size()));
  }
  // A chain of depth one-element collections (or one-member structures named
  // "d") around leaf.
  HostValue Nested(size_t depth, bool structures, HostValue leaf) {
    HostValue inner = leaf;
    for (size_t i = 0; i < depth; ++i) {
      inner = structures ? Structure({Member("d", inner)}) : Collection({inner});
    }
    return inner;
  }
  // A resource event payload: {uri, eventType, data}, each present only when
  // given.
  HostValue Event(const HostValue* uri, const HostValue* eventType, const HostValue* data) {
    std::vector<HostMember> members;
    if (data != nullptr) members.push_back(Member("data", *data));
    if (eventType != nullptr) members.push_back(Member("eventType", *eventType));
    if (uri != nullptr) members.push_back(Member("uri", *uri));
    return Structure(std::move(members));
  }
  const char* Keep(std::string text) { return texts_.emplace_back(std::move(text)).c_str(); }

 private:
  std::deque<std::vector<HostValue>> collections_;
  std::deque<std::vector<HostMember>> structures_;
  std::deque<std::string> texts_;
};

// A named record for table-driven cases.
struct NamedRecord {
  std::string name;
  HostValue record;
};

// Values of every kind and of no kind, and containers that lie about their
// contents: the shapes a payload, a body or a member can take.
inline std::vector<NamedRecord> OddValues(RecordStore& store) {
  static const uint8_t bytes[] = {0xFF, 0x00, 0x7B};
  return {
      {"empty", HostValue{}},
      {"bool", Scalar(HostValueBool, 1)},
      {"signed", Scalar(HostValueSigned, static_cast<uint64_t>(-5))},
      {"unsigned", Scalar(HostValueUnsigned, std::numeric_limits<uint64_t>::max())},
      {"float NaN", Scalar(HostValueFloat, 0x7FF8000000000000ull)},
      {"string ref", Text("eu")},
      {"string ref null", Buffer(HostValueStringRef, nullptr, 0)},
      {"string null with length", Buffer(HostValueString, nullptr, 7)},
      {"string shorter than its length", Buffer(HostValueString, "ab", 1000)},
      {"blob ref null with length", Buffer(HostValueBlobRef, nullptr, 9)},
      {"blob with NULs", Buffer(HostValueBlob, bytes, sizeof bytes)},
      {"collection null with count", Buffer(HostValueCollection, nullptr, 4)},
      {"collection null empty", Buffer(HostValueCollection, nullptr, 0)},
      {"structure null with count", Buffer(HostValueStructure, nullptr, 6)},
      {"structure null empty", Buffer(HostValueStructure, nullptr, 0)},
      {"structure of nameless members",
       store.Structure({Member(nullptr, Text("x")), Member(nullptr, Scalar(HostValueBool, 0))})},
      {"structure of repeated names",
       store.Structure({Member("eu", Text("a")), Member("eu", Text("b"))})},
      {"collection with an unknown kind",
       store.Collection({Scalar(HostValueSigned, 1), Scalar(99, 0)})},
      {"structure with a null collection",
       store.Structure({Member("eu", Buffer(HostValueCollection, nullptr, 3))})},
      {"kind 11", Scalar(11, 0)},
      {"kind 0xFFFFFFFF", Scalar(0xFFFFFFFFu, 0)},
      {"collections 999 deep", store.Nested(999, false, Text("leaf"))},
      {"collections 5000 deep", store.Nested(5000, false, Text("leaf"))},
      {"structures 5000 deep", store.Nested(5000, true, Text("leaf"))},
  };
}

}  // namespace qmx::test
