// The MessagePack reference, over msgpack-cxx's stream parser.
//
// The parser is fed one byte at a time. Each of its calls for an item (a
// scalar, or a container's header) therefore comes when the item's last byte
// has been fed, so the reference knows where every item starts and ends; it
// reads the item's type byte itself only to tell the uint family (Unsigned)
// from fixints and the int family (Signed), which the parser reports alike.
#include "support/reference_readers.h"

#if defined(QMX_HAVE_MSGPACK_CXX)

#include <msgpack.hpp>

#include <exception>
#include <set>
#include <string>
#include <vector>

namespace qmx::reference {
namespace {

// No buffer is ever handed over: strings and bins are copied when they come.
struct NoBufferHook {
  void operator()(char*) {}
};

class Unpacker : public msgpack::v2::parser<Unpacker, NoBufferHook> {
 public:
  Unpacker(const uint8_t* data, Notes& notes) : parser(hook_, 64), data_(data), notes_(notes) {}

  // What the parser calls.
  Unpacker& visitor() { return *this; }
  bool referenced() const { return false; }
  void set_referenced(bool) {}
  void init() {}

  bool visit_nil() { return Scalar([](Value& v) { v.Reset(); }); }
  bool visit_boolean(bool value) { return Scalar([&](Value& v) { v.SetBool(value); }); }
  bool visit_positive_integer(uint64_t value) {
    bool uintFamily = data_[start_] >= 0xCC && data_[start_] <= 0xCF;
    return Scalar([&](Value& v) {
      if (uintFamily) {
        v.SetUnsigned(value);
      } else {
        v.SetSigned(static_cast<int64_t>(value));
      }
    });
  }
  bool visit_negative_integer(int64_t value) { return Scalar([&](Value& v) { v.SetSigned(value); }); }
  bool visit_float32(float value) { return Scalar([&](Value& v) { v.SetFloat(value); }); }
  bool visit_float64(double value) { return Scalar([&](Value& v) { v.SetFloat(value); }); }
  bool visit_str(const char* text, uint32_t size) {
    Frame* top = frames_.empty() ? nullptr : &frames_.back();
    if (top != nullptr && top->inKey) {
      Consumed();
      top->key.assign(text, size);
      if (!top->keys.insert(top->key).second && top->reopened) notes_.repeatedKeyInReopenedObject = true;
      return true;
    }
    return Scalar([&](Value& v) { v.SetString(std::string_view(text, size)); });
  }
  bool visit_bin(const char* bytes, uint32_t size) {
    return Scalar([&](Value& v) { v.SetBlob(bytes, size); });
  }
  bool visit_ext(const char*, uint32_t) { return Fail("extension type"); }
  bool start_array(uint32_t) { return Open(false); }
  bool start_array_item() { return true; }
  bool end_array_item() {
    ++frames_.back().index;
    return true;
  }
  bool end_array() { return Close(); }
  bool start_map(uint32_t) { return Open(true); }
  bool start_map_key() {
    frames_.back().inKey = true;
    return true;
  }
  bool end_map_key() {
    frames_.back().inKey = false;
    return true;
  }
  bool start_map_value() { return true; }
  bool end_map_value() { return true; }
  bool end_map() { return Close(); }
  void parse_error(size_t, size_t) { Fail("type byte 0xC1"); }
  void insufficient_bytes(size_t, size_t) {}

  // Feeds the input byte by byte until the first item is complete, the input
  // ends or the parse fails.
  ValueResult Run(size_t size, size_t& consumed) {
    ValueResult result;
    bool complete = false;
    try {
      while (!complete && !failed_ && fed_ < size) {
        reserve_buffer(1);
        *buffer() = static_cast<char>(data_[fed_]);
        buffer_consumed(1);
        ++fed_;
        complete = next();
      }
    } catch (const std::exception& error) {
      Fail(error.what());
    }
    // Input that ends between items leaves the open containers as they are;
    // input that ends inside an item is truncated.
    if (!failed_ && !complete && start_ != fed_) Fail("truncated item");
    if (failed_) {
      result.SetError("reference: " + message_);
      consumed = start_;
      return result;
    }
    result.value().Swap(root_);
    consumed = fed_;
    return result;
  }

 private:
  struct Frame {
    Frame(Value* target, bool map, bool reopened) : target(target), map(map), reopened(reopened) {}
    Value* target;
    bool map;
    bool reopened;
    bool inKey = false;
    uint32_t index = 0;  // elements completed
    std::string key;
    std::set<std::string> keys;
  };

  bool Fail(const std::string& message) {
    if (!failed_) message_ = message;
    failed_ = true;
    return false;
  }

  // The bytes fed so far make up complete items.
  void Consumed() { start_ = fed_; }

  // The value the item that just ended fills, or null for a map key.
  Value* Slot() {
    if (frames_.empty()) return &root_;
    Frame& top = frames_.back();
    if (!top.map) return &top.target->Element(top.index);
    if (top.inKey) return nullptr;
    return &top.target->Member(top.key);
  }

  template <typename Fill>
  bool Scalar(Fill fill) {
    Value* slot = Slot();
    Consumed();
    if (slot == nullptr) return Fail("map key is not a string");
    fill(*slot);
    return true;
  }

  bool Open(bool map) {
    Value* slot = Slot();
    Consumed();
    if (slot == nullptr) return Fail("map key is not a string");
    // DecodeMessagePack's own bound, as in the JSON reference.
    if (frames_.size() >= kMaxNestingDepth) return Fail("nested too deep");
    bool reopened = !frames_.empty() && frames_.back().reopened;
    // A repeated key's later array or map fills the earlier container of
    // the same kind again: elements from index 0, members by name.
    if (map) {
      if (slot->Kind() == ValueKind::Structure) reopened = true;
      slot->MakeStructure();
    } else {
      slot->MakeCollection();
    }
    frames_.emplace_back(slot, map, reopened);
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  NoBufferHook hook_;
  const uint8_t* data_;
  Value root_;
  Notes& notes_;
  std::vector<Frame> frames_;
  size_t fed_ = 0;
  size_t start_ = 0;  // where the item being read starts
  bool failed_ = false;
  std::string message_;
};

}  // namespace

bool HaveMessagePack() { return true; }

ValueResult DecodeMessagePack(const uint8_t* data, size_t size, size_t& consumed, Notes* notes) {
  Notes unused;
  if (data == nullptr) size = 0;
  Unpacker unpacker(data, notes != nullptr ? *notes : unused);
  return unpacker.Run(size, consumed);
}

}  // namespace qmx::reference

#else

namespace qmx::reference {

bool HaveMessagePack() { return false; }

ValueResult DecodeMessagePack(const uint8_t*, size_t, size_t& consumed, Notes*) {
  consumed = 0;
  return ValueResult::Failure("reference: built without msgpack-cxx");
}

}  // namespace qmx::reference

#endif
