// The MessagePack reader. It is one state machine: a class table for the
// lead byte, then one frame loop over open arrays and maps that builds the
// Value tree in place. The file is longer than most because the loop, its
// frames and the scalar readers share the decoder's cursor and limits, and
// splitting them would put the hot path behind calls across files.
#include "serialization/msgpack.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/inline_stack.h"
#include "binding/member_marks.h"
#include "messages/message_format.h"
#include "serialization/member_index.h"

namespace qmx {
namespace {


enum class Class : uint8_t {
  PositiveFixint,
  Fixmap,
  Fixarray,
  Fixstr,
  Nil,
  Invalid,  // 0xC1 and every extension type
  False,
  True,
  Bin8,
  Bin16,
  Bin32,
  Float32,
  Float64,
  Uint8,
  Uint16,
  Uint32,
  Uint64,
  Int8,
  Int16,
  Int32,
  Int64,
  Str8,
  Str16,
  Str32,
  Array16,
  Array32,
  Map16,
  Map32,
  NegativeFixint,
};

constexpr std::array<Class, 256> BuildClassTable() {
  std::array<Class, 256> table{};
  for (int b = 0x00; b <= 0x7F; ++b) table[b] = Class::PositiveFixint;
  for (int b = 0x80; b <= 0x8F; ++b) table[b] = Class::Fixmap;
  for (int b = 0x90; b <= 0x9F; ++b) table[b] = Class::Fixarray;
  for (int b = 0xA0; b <= 0xBF; ++b) table[b] = Class::Fixstr;
  for (int b = 0xC0; b <= 0xDF; ++b) table[b] = Class::Invalid;
  for (int b = 0xE0; b <= 0xFF; ++b) table[b] = Class::NegativeFixint;
  table[0xC0] = Class::Nil;
  table[0xC2] = Class::False;
  table[0xC3] = Class::True;
  table[0xC4] = Class::Bin8;
  table[0xC5] = Class::Bin16;
  table[0xC6] = Class::Bin32;
  table[0xCA] = Class::Float32;
  table[0xCB] = Class::Float64;
  table[0xCC] = Class::Uint8;
  table[0xCD] = Class::Uint16;
  table[0xCE] = Class::Uint32;
  table[0xCF] = Class::Uint64;
  table[0xD0] = Class::Int8;
  table[0xD1] = Class::Int16;
  table[0xD2] = Class::Int32;
  table[0xD3] = Class::Int64;
  table[0xD9] = Class::Str8;
  table[0xDA] = Class::Str16;
  table[0xDB] = Class::Str32;
  table[0xDC] = Class::Array16;
  table[0xDD] = Class::Array32;
  table[0xDE] = Class::Map16;
  table[0xDF] = Class::Map32;
  return table;
}

constexpr std::array<Class, 256> kClasses = BuildClassTable();

constexpr const char* kInvalid = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotString =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTooDeep =
    "Invalid MessagePack data at position %1. Containers are nested deeper than %2 levels.";
constexpr const char* kTruncated8 =
    "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated16 =
    "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated32 =
    "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
constexpr const char* kTruncated64 =
    "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";
constexpr const char* kStringTruncated =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kBytesTruncated =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";

// An open array or map.
struct Frame {
  Value* container = nullptr;
  uint64_t limit = 0;  // items announced: elements, or keys plus values
  uint64_t count = 0;  // items started so far
  // The pending key and the names below are views into the input, which
  // outlives the decoder.
  std::string_view key;
  // The members appended so far to a map that appends its members (see
  // OpenContainer and AppendedMember), to find repeated keys; null when the
  // map's names are marked instead (see MemberMarks).
  std::unique_ptr<MemberIndex> members;
  // A new array's elements are made in batches from the announced count:
  // next..stop are made and not yet read.
  Value* next = nullptr;
  Value* stop = nullptr;
  // A map whose members are appended as they come and sorted once when it
  // closes: a new map, or a reopened one past kMaxInserted names.
  bool appendsMembers = false;
  // A new array, whose elements are made in batches (see AdvanceToNextSlot).
  bool batchesElements = false;
  // A map reopened by a repeated key: the names it inserted in their place,
  // and, once it appends instead (see ReopenedMember), how many members at
  // its start are in name order.
  size_t inserted = 0;
  size_t sorted = 0;
};

// A map reopened by a repeated key inserts this many new names in their
// place; inserting more could cost time quadratic in its size, so it then
// appends the rest and sorts them in when it closes.
constexpr size_t kMaxInserted = 32;

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  ValueResult Run(size_t& consumed) {
    // Only open containers have frames: the item being read is slot.
    Value* slot = &result_.value();
    bool rootRead = false;
    try {
      while (ok_ && position_ < size_) {
        if (rootRead) {
          Step step = AdvanceToNextSlot(slot);
          if (step == Step::Done) break;
          if (step == Step::Key) {
            ReadKey(stack_.back());
            continue;
          }
        }
        rootRead = true;
        ReadItem(*slot);
      }
    } catch (const std::length_error&) {
      // More elements than a Collection can hold.
      Fail(FormatMessageTexts(kInvalid, {Number(position_)}));
    }
    if (ok_) {
      // Containers left open by the end of the input keep what was read:
      // arrays drop the elements made for items that never came, maps still
      // need their order.
      for (size_t i = stack_.size(); i-- > 0;) {
        Frame& open = stack_[i];
        if (open.next != open.stop) {
          const auto unread = static_cast<size_t>(open.stop - open.next);
          open.container->TruncateElements(open.container->Size() - unread);
        }
        if (open.appendsMembers) open.container->FinishMembers();
      }
    }
    consumed = position_;
    return std::move(result_);
  }

 private:
  enum class Step { Item, Key, Done };

  // Walks up from the top frame to what the next type byte fills: a key of the
  // Structure on top (Key), an element or member value (Item, in slot), or
  // nothing because the root item is complete (Done). Closes the containers
  // it leaves and counts the item it moves to.
  [[gnu::always_inline]] Step AdvanceToNextSlot(Value*& slot) {
    for (;;) {
      if (stack_.empty()) return Step::Done;
      Frame& top = stack_.back();
      if (top.next != top.stop) {
        slot = top.next++;
        ++top.count;
        return Step::Item;
      }
      if (top.count == top.limit) {
        Pop();
        continue;
      }
      if (top.batchesElements) {
        // The loop reads only while input is left, so Announced is at least 1.
        std::span<Value> batch = top.container->AppendElements(Announced(top.limit - top.count, 1));
        top.next = batch.data() + 1;
        top.stop = batch.data() + batch.size();
        slot = batch.data();
        ++top.count;
        return Step::Item;
      }
      if (top.container->Kind() == ValueKind::Collection) {
        // Element number count of an array reopened by a repeated key: it is
        // overwritten from index 0 and grows by one past its old size.
        Value& list = *top.container;
        auto index = static_cast<size_t>(top.count);
        slot = index < list.Size() ? &list.Element(index) : &list.Append();
        ++top.count;
        return Step::Item;
      }
      if (top.count % 2 == 0) {
        ++top.count;
        return Step::Key;
      }
      slot = top.appendsMembers ? &AppendedMember(top) : &ReopenedMember(top);
      ++top.count;
      return Step::Item;
    }
  }

  // The member for the pending key of a map that appends its members: the
  // earlier one of the same name when the key repeats, otherwise a new one at
  // the end. The key is hashed once, for both the search and the string table.
  Value& AppendedMember(Frame& top) {
    Value& map = *top.container;
    if (top.members == nullptr) return marks_.Member(map, top.key);
    if (top.sorted != 0) {
      // The members a reopened map held, and those it inserted, by binary
      // search (string_view compares as the member order does: unsigned
      // bytes, a proper prefix first).
      size_t low = 0;
      size_t high = top.sorted;
      while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (map.MemberName(mid) < top.key) {
          low = mid + 1;
        } else {
          high = mid;
        }
      }
      if (low < top.sorted && map.MemberName(low) == top.key) return map.MemberValue(low);
    }
    uint32_t hash = Fnv1a(top.key);
    size_t position = top.members->Find(map, top.key, hash);
    if (position != map.Size()) return map.MemberValue(position);
    Value& member = map.AppendMember(top.key, hash);
    top.members->Add(hash);
    return member;
  }

  // The member for the pending key of a map reopened by a repeated key,
  // which holds sorted members: found or inserted by name, until it has
  // inserted kMaxInserted names; from then on it appends its members after
  // those it holds.
  Value& ReopenedMember(Frame& top) {
    Value& map = *top.container;
    const size_t before = map.Size();
    Value& member = map.Member(top.key);
    if (map.Size() != before && ++top.inserted == kMaxInserted) {
      top.members = TakeIndex();
      top.members->Clear(map.Size());
      top.sorted = map.Size();
      top.appendsMembers = true;
    }
    return member;
  }

  void Pop() {
    Frame& top = stack_.back();
    --depth_;
    if (top.appendsMembers) {
      top.container->FinishMembers();
      if (top.members == nullptr) marks_.Close();
    }
    if (top.members != nullptr) {
      top.members->Clear();
      spareIndexes_.push_back(std::move(top.members));
    }
    stack_.pop_back();
  }

  // An empty index, reusing the storage of maps already closed.
  std::unique_ptr<MemberIndex> TakeIndex() {
    if (spareIndexes_.empty()) return std::make_unique<MemberIndex>();
    std::unique_ptr<MemberIndex> index = std::move(spareIndexes_.back());
    spareIndexes_.pop_back();
    return index;
  }

  void Fail(std::string message) {
    ok_ = false;
    result_.SetError(message);
  }

  static std::string Number(uint64_t n) { return std::to_string(n); }

  // Reads width bytes big-endian; on too few bytes reports the width's
  // truncation message at the current position without advancing.
  [[gnu::always_inline]] bool ReadBits(unsigned width, uint64_t& out) {
    size_t bytes = width / 8;
    if (size_ - position_ < bytes) {
      FailTruncated(width);
      return false;
    }
    const uint8_t* p = data_ + position_;
    position_ += bytes;
    // Fixed-width reads: the compiler turns each into one load and a byte swap.
    switch (bytes) {
      case 1:
        out = p[0];
        break;
      case 2:
        out = Big16(p);
        break;
      case 4:
        out = Big32(p);
        break;
      default:
        out = (uint64_t{Big32(p)} << 32) | Big32(p + 4);
        break;
    }
    return true;
  }

  static uint32_t Big16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
  static uint32_t Big32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  }

  // Failures are out of line: the readers above and below inline into the loop.
  [[gnu::noinline]] void FailTruncated(unsigned width) {
    const char* text = width == 8    ? kTruncated8
                       : width == 16 ? kTruncated16
                       : width == 32 ? kTruncated32
                                     : kTruncated64;
    Fail(FormatMessageTexts(text, {Number(position_)}));
  }

  [[gnu::noinline]] void FailPayload(uint64_t length, const char* truncated) {
    Fail(FormatMessageTexts(truncated, {Number(length), Number(position_)}));
  }

  // The payload of a string or bin of length bytes, or nullptr when the input
  // holds fewer (then the message is set).
  [[gnu::always_inline]] const uint8_t* ReadPayload(uint64_t length, const char* truncated) {
    if (length > size_ - position_) {
      FailPayload(length, truncated);
      return nullptr;
    }
    const uint8_t* payload = data_ + position_;
    position_ += static_cast<size_t>(length);
    return payload;
  }

  [[gnu::always_inline]] bool ReadString(unsigned lengthWidth, uint8_t fixLength, std::string_view& out) {
    uint64_t length = fixLength;
    if (lengthWidth != 0 && !ReadBits(lengthWidth, length)) return false;
    const uint8_t* payload = ReadPayload(length, kStringTruncated);
    if (payload == nullptr) return false;
    out = std::string_view(reinterpret_cast<const char*>(payload), static_cast<size_t>(length));
    return true;
  }

  void ReadKey(Frame& frame) {
    uint8_t type = data_[position_++];
    std::string_view text;
    bool read;
    switch (kClasses[type]) {
      case Class::Fixstr:
        read = ReadString(0, type & 0x1F, text);
        break;
      case Class::Str8:
        read = ReadString(8, 0, text);
        break;
      case Class::Str16:
        read = ReadString(16, 0, text);
        break;
      case Class::Str32:
        read = ReadString(32, 0, text);
        break;
      default:
        Fail(FormatMessageTexts(kKeyNotString, {Number(position_)}));
        return;
    }
    if (read) frame.key = text;
  }

  // Room to make up front for a container that announces count items of at
  // least itemBytes each: no more than the rest of the input can hold, and
  // a bounded amount, since the count is the input's word only.
  size_t Announced(uint64_t count, size_t itemBytes) const {
    constexpr uint64_t kMaxReserved = 256;
    uint64_t fits = (size_ - position_) / itemBytes;
    return static_cast<size_t>(std::min({count, fits, kMaxReserved}));
  }

  void OpenContainer(Value& container, uint64_t limit, bool structure) {
    if (depth_ >= kMaxNestingDepth) {
      Fail(FormatMessageTexts(kTooDeep, {Number(position_), Number(kMaxNestingDepth)}));
      return;
    }
    stack_.emplace_back();
    Frame& top = stack_.back();
    top.container = &container;
    // A repeated map key reuses the member: an earlier container of the same
    // kind stays in place and is filled again.
    if (structure) {
      // A new map is filled by appending members and sorted once when it
      // closes; inserting each member in order would cost quadratic time on
      // large maps. A map reopened by a repeated key already holds sorted
      // members and is filled by lookup instead.
      top.appendsMembers =
          top.container->Kind() != ValueKind::Structure || top.container->Size() == 0;
      // Its repeated names are found by marks, or, once a document has
      // spent them all, through an index.
      if (top.appendsMembers && !marks_.Open()) top.members = TakeIndex();
      top.container->MakeStructure();
      top.container->ReserveMembers(Announced(limit / 2, 2));
    } else {
      // A new array takes its elements in batches as they come; one reopened
      // by a repeated key is overwritten element by element (AdvanceToNextSlot).
      top.batchesElements =
          top.container->Kind() != ValueKind::Collection || top.container->Size() == 0;
      top.container->MakeCollection();
    }
    top.limit = limit;
    top.count = 0;
    ++depth_;
  }

  // Inlined into Run's loop: it runs once per item.
  [[gnu::always_inline]] void ReadItem(Value& slot) {
    uint8_t type = data_[position_++];
    uint64_t bits = 0;
    std::string_view text;
    switch (kClasses[type]) {
      case Class::PositiveFixint:
        slot.SetSigned(type);
        break;
      case Class::NegativeFixint:
        slot.SetSigned(static_cast<int8_t>(type));
        break;
      case Class::Fixmap:
        return OpenContainer(slot, 2u * (type & 0x0F), true);
      case Class::Fixarray:
        return OpenContainer(slot, type & 0x0F, false);
      case Class::Map16:
        if (!ReadBits(16, bits)) return;
        return OpenContainer(slot, 2 * bits, true);
      case Class::Map32:
        if (!ReadBits(32, bits)) return;
        return OpenContainer(slot, 2 * bits, true);
      case Class::Array16:
        if (!ReadBits(16, bits)) return;
        return OpenContainer(slot, bits, false);
      case Class::Array32:
        if (!ReadBits(32, bits)) return;
        return OpenContainer(slot, bits, false);
      case Class::Fixstr:
        if (!ReadString(0, type & 0x1F, text)) return;
        slot.SetString(text);
        break;
      case Class::Str8:
      case Class::Str16:
      case Class::Str32: {
        unsigned width = type == 0xD9 ? 8 : type == 0xDA ? 16 : 32;
        if (!ReadString(width, 0, text)) return;
        slot.SetString(text);
        break;
      }
      case Class::Bin8:
      case Class::Bin16:
      case Class::Bin32: {
        unsigned width = type == 0xC4 ? 8 : type == 0xC5 ? 16 : 32;
        if (!ReadBits(width, bits)) return;
        const uint8_t* payload = ReadPayload(bits, kBytesTruncated);
        if (payload == nullptr) return;
        slot.SetBlob(payload, static_cast<size_t>(bits));
        break;
      }
      case Class::Nil:
        slot.Reset();
        break;
      case Class::False:
        slot.SetBool(false);
        break;
      case Class::True:
        slot.SetBool(true);
        break;
      case Class::Float32: {
        if (!ReadBits(32, bits)) return;
        uint32_t raw = static_cast<uint32_t>(bits);
        float value;
        std::memcpy(&value, &raw, sizeof value);
        slot.SetFloat(value);
        break;
      }
      case Class::Float64: {
        if (!ReadBits(64, bits)) return;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        slot.SetFloat(value);
        break;
      }
      case Class::Uint8:
      case Class::Uint16:
      case Class::Uint32:
      case Class::Uint64:
        if (!ReadBits(8u << (type - 0xCC), bits)) return;
        slot.SetUnsigned(bits);
        break;
      case Class::Int8:
      case Class::Int16:
      case Class::Int32:
      case Class::Int64: {
        unsigned width = 8u << (type - 0xD0);
        if (!ReadBits(width, bits)) return;
        // Sign-extend from width bits.
        unsigned shift = 64 - width;
        slot.SetSigned(static_cast<int64_t>(bits << shift) >> shift);
        break;
      }
      case Class::Invalid:
        Fail(FormatMessageTexts(kInvalid, {Number(position_)}));
        return;
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  bool ok_ = true;
  unsigned depth_ = 0;
  ValueResult result_;
  // The open containers; a document nesting no deeper than this allocates
  // nothing for them.
  InlineStack<Frame, 16> stack_;
  std::vector<std::unique_ptr<MemberIndex>> spareIndexes_;
  // Declared after result_: it drops its references into the document's
  // context before the document can go.
  MemberMarks marks_;
};

}  // namespace

ValueResult DecodeMessagePack(const uint8_t* data, size_t size, size_t& consumed) {
  if (data == nullptr) size = 0;
  Decoder decoder(data, size);
  return decoder.Run(consumed);
}

}  // namespace qmx
