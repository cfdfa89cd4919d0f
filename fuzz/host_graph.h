// Builds bounded HostValue graphs from fuzz input for the harnesses that
// hand host records to the runtime. Every pointer in a graph addresses
// storage the builder owns (valid while it lives); the input decides kinds
// (unknown ones included), lengths, nesting, member names and contents, and
// may ask for null data under a non-zero length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "binding/value.h"
#include "fuzz/fuzz_input.h"
#include "interface/host_api.h"

namespace qmx::fuzz {
constexpr size_t kMaxNodes = 512;
constexpr size_t kMaxWidth = 8;
constexpr unsigned kMaxDepth = 12;

// Reads the input as an Input does; graphs and plain fields may be drawn
// from it in any order.
class GraphBuilder : public Input {
 public:
  GraphBuilder(const uint8_t* data, size_t size) : Input(data, size) {}

  void Build(HostValue& record, unsigned depth) {
    record = HostValue{};
    if (++nodes_ > kMaxNodes) return;  // Empty
    const uint8_t code = Byte();
    if (code >= 0xF8) {
      record.kind = 11u + Byte();  // a kind the boundary does not define
      refused_ = true;
      return;
    }
    const uint8_t flags = Byte();
    switch (code % 12) {
      case 0: break;
      case 1: record.kind = HostValueBool; record.payload.boolean = Byte(); break;
      case 2: record.kind = HostValueSigned; record.payload.signedValue = static_cast<int64_t>(Word()); break;
      case 3: record.kind = HostValueUnsigned; record.payload.unsignedValue = Word(); break;
      case 4: {
        record.kind = HostValueFloat;
        const uint64_t word = Word();
        std::memcpy(&record.payload.floatValue, &word, sizeof word);
        break;
      }
      case 5:
      case 6: {
        record.kind = code % 12 == 5 ? HostValueStringRef : HostValueString;
        std::string& text = texts_.emplace_back(Text(Byte() % 48));
        // Strings are NUL-terminated; a null text reads as "".
        record.payload.buffer.data = flags & 1 ? nullptr : text.data();
        record.payload.buffer.length = static_cast<uint32_t>(text.size());
        break;
      }
      case 7:
      case 8: {
        record.kind = code % 12 == 7 ? HostValueBlobRef : HostValueBlob;
        std::string& bytes = texts_.emplace_back(Text(Byte() % 48));
        SetBuffer(record, bytes.empty() ? nullptr : bytes.data(), bytes.size(), flags);
        break;
      }
      case 9: {
        record.kind = HostValueCollection;
        const size_t count = depth < kMaxDepth ? Byte() % kMaxWidth : 0;
        std::vector<HostValue>& elements = elements_.emplace_back(count);
        for (HostValue& element : elements) Build(element, depth + 1);
        SetBuffer(record, elements.empty() ? nullptr : elements.data(), count, flags);
        break;
      }
      case 10: {
        record.kind = HostValueStructure;
        const size_t count = depth < kMaxDepth ? Byte() % kMaxWidth : 0;
        std::vector<HostMember>& members = members_.emplace_back(count);
        for (HostMember& member : members) {
          const uint8_t nameCode = Byte();
          std::string& name = texts_.emplace_back(Text(nameCode % 8));
          member.name = nameCode >= 0xF0 ? nullptr : name.c_str();
          member.nameOwned = nameCode & 1;  // read only; ToValue never frees
          Build(member.value, depth + 1);
        }
        SetBuffer(record, members.empty() ? nullptr : members.data(), count, flags);
        break;
      }
      default: {
        // A chain of single-element collections, deep enough to pass the
        // nesting limit when the input asks for it.
        const size_t chain = static_cast<size_t>(Byte()) * 5;
        HostValue* link = &record;
        for (size_t i = 0; i < chain; ++i) {
          link->kind = HostValueCollection;
          std::vector<HostValue>& one = elements_.emplace_back(1);
          link->payload.buffer.data = one.data();
          link->payload.buffer.length = 1;
          link = &one[0];
        }
        // Collections sit at depths depth .. depth + chain - 1.
        if (chain > 0 && depth + chain - 1 >= kMaxNestingDepth) refused_ = true;
        if (link != &record) Build(*link, kMaxDepth);
        break;
      }
    }
  }

  // True once a graph holds an unknown kind, null data under a non-zero
  // length or nesting beyond kMaxNestingDepth.
  bool MustBeRefused() const { return refused_; }

  // A NUL-terminated text of up to maxLength bytes that lives as long as the
  // builder.
  const char* StoredText(size_t maxLength) { return texts_.emplace_back(Text(Byte() % (maxLength + 1))).c_str(); }

 private:
  // Null data with a non-zero length when the input asks for it.
  void SetBuffer(HostValue& record, void* data, size_t length, uint8_t flags) {
    record.payload.buffer.data = data;
    record.payload.buffer.length = static_cast<uint32_t>(length);
    if (flags & 1) {
      record.payload.buffer.data = nullptr;
      if (flags & 2) record.payload.buffer.length = 1u + (flags >> 2);
      if (record.payload.buffer.length != 0) refused_ = true;
    }
  }

  size_t nodes_ = 0;
  bool refused_ = false;
  std::deque<std::string> texts_;
  std::deque<std::vector<HostValue>> elements_;
  std::deque<std::vector<HostMember>> members_;
};


}  // namespace qmx::fuzz
