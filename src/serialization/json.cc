#include "serialization/json.h"

// The writers keep their byte loops: the texts we write are mostly short,
// where setting up a 16-byte scan costs more than it saves.
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

// Where the target has SSE2 (every x86-64 build, and the i386 builds, which
// ask for it), the parser skips white space and scans string runs 16 bytes at
// a time. The switches are read where the parser is declared, so they are set
// after the writers' headers. This file is the only user of the parser, so
// no other translation unit instantiates it with the byte loops.
#if defined(__SSE2__)
#define RAPIDJSON_SSE2
#define RAPIDJSON_SIMD
#endif
#include <rapidjson/reader.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "binding/inline_stack.h"
#include "binding/type_registry.h"
#include "common/base64.h"
#include "serialization/json_number.h"
#include "serialization/member_index.h"

namespace qmx {
namespace {

// ---------------------------------------------------------------- writing

// The enumerator's name when a registry is given and knows one.
std::optional<std::string> FindEnumName(const TypeRegistry* registry, const EnumRecord& record) {
  if (registry == nullptr) return std::nullopt;
  return registry->FindEnumeratorName(TypeId(record.type), record.number);
}

template <typename Writer>
class JsonWriteVisitor final : public ValueVisitor {
 public:
  JsonWriteVisitor(Writer& writer, const TypeRegistry* registry)
      : writer_(writer), registry_(registry) {}

  void Null() override { writer_.Null(); }
  void Bool(bool value) override { writer_.Bool(value); }
  // Values that fit 32 bits take the writer's 32-bit conversion: the same
  // digits, without 64-bit divisions (library calls on i386).
  void Signed(int64_t value) override {
    if (value >= INT32_MIN && value <= INT32_MAX) {
      writer_.Int(static_cast<int>(value));
    } else {
      writer_.Int64(value);
    }
  }
  void Unsigned(uint64_t value) override {
    if (value <= UINT32_MAX) {
      writer_.Uint(static_cast<unsigned>(value));
    } else {
      writer_.Uint64(value);
    }
  }
  void Float(double value) override {
    // The writer refuses NaN and infinities after it has already written the
    // separator; null keeps the output well formed.
    if (std::isfinite(value)) {
      writer_.Double(value);
    } else {
      writer_.Null();
    }
  }
  void String(std::string_view text) override { WriteText(text); }
  void Blob(std::span<const uint8_t> bytes) override { WriteText(Base64Encode(bytes)); }
  void Enum(const EnumRecord& record) override {
    if (const std::optional<std::string> name = FindEnumName(registry_, record)) {
      WriteText(*name);
    } else {
      writer_.Int64(record.number);
    }
  }
  void BeginCollection(size_t) override { writer_.StartArray(); }
  void BeginElement(size_t) override {}
  void EndElement(size_t) override {}
  void EndCollection() override { writer_.EndArray(); }
  void BeginStructure(size_t) override { writer_.StartObject(); }
  void BeginMember(std::string_view name) override {
    writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  }
  void EndMember(std::string_view) override {}
  void EndStructure() override { writer_.EndObject(); }

 private:
  void WriteText(std::string_view text) {
    writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }

  Writer& writer_;
  const TypeRegistry* registry_;
};

std::string ReplaceLineBreaks(const char* text, size_t size, std::string_view lineBreak) {
  std::string out;
  out.reserve(size + size / 8);
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') {
      out.append(lineBreak);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// ---------------------------------------------------------------- reading

// The nearest double to a number whose grammar the parser has checked.
// from_chars is correctly rounded and ignores the locale; it refuses only
// results that round to zero or infinity, and which of the two it is follows
// from the position of the first non-zero digit. (The parser's own
// full-precision conversion reads outside its table of cached powers for long
// runs of zeros, and is undefined for a zero significand.)
double NearestDouble(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const bool negative = !text.empty() && text.front() == '-';
  double number = 0;
  if (std::from_chars(begin, end, number).ec == std::errc::result_out_of_range) {
    const std::string_view digits = text.substr(negative ? 1 : 0);
    const size_t exponentAt = digits.find_first_of("eE");
    const std::string_view mantissa = digits.substr(0, exponentAt);
    long exponent = 0;
    if (exponentAt != std::string_view::npos) {
      std::string_view e = digits.substr(exponentAt + 1);
      const bool exponentNegative = !e.empty() && e.front() == '-';
      if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
      // Huge exponents are capped; only their sign matters here.
      for (char c : e) exponent = exponent < 100000 ? exponent * 10 + (c - '0') : exponent;
      if (exponentNegative) exponent = -exponent;
    }
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = std::min(mantissa.find_first_not_of("0."), mantissa.size());
    // The decimal order of the first significant digit.
    const long order = first < point ? static_cast<long>(point - first) - 1
                                     : static_cast<long>(point) - static_cast<long>(first);
    number = order + exponent < 0 ? 0.0 : std::numeric_limits<double>::infinity();
    if (negative) number = -number;
  }
  return number;
}

// Builds the Value in place while the parser walks the text. The stack holds
// the open containers; slot_ is the value the next scalar or container fills
// when the top of the stack is not a Collection.
//
// A repeated key writes into the member its earlier occurrence left: a scalar
// or null replaces it, an object merges into an earlier Structure and an
// array appends to an earlier Collection, exactly as writing every member
// through Member(name) in the order of the text does. The handler builds in
// one of two ways:
//
//  - appending (the usual way): every key adds a member without looking for
//    an earlier one, and each object sorts its members once, when it ends
//    (FinishMembers). Folding repeated names there would be exact for the
//    object's own members, but it would leave no trace of the order of
//    writes in it, which an enclosing object that folds this one into an
//    earlier occurrence needs ({"a":{"b":[1]},"a":{"b":2,"b":[3]}}: the 2
//    must stand between [1] and [3]). So the first object that repeats a
//    name stops the reading, unfolded (RepeatedName()), and the caller
//    reads the text again:
//  - in sequence: each key finds its earlier occurrence as it comes (in this
//    object, or in the Structure a repeated key opened again) and writes
//    into it (see OpenObject).
class BuildHandler {
 public:
  // stream reads the text, which ends at end (a NUL).
  BuildHandler(Value& root, const rapidjson::InsituStringStream& stream, const char* end,
               bool inSequence)
      : slot_(&root), stream_(stream), end_(end), inSequence_(inSequence) {}

  // Whether an object repeated a name, which stopped the reading (building
  // by appending only); the value is then only fit to be reset.
  bool RepeatedName() const { return repeatedName_; }

  bool Null() {
    Value* target = Place();
    if (target == nullptr) return false;
    if (!target->IsEmpty()) target->Reset();  // a repeated key's earlier value
    return true;
  }
  bool Bool(bool value) { return Store([&](Value& v) { v.SetBool(value); }); }
  bool Int(int value) { return Store([&](Value& v) { v.SetSigned(value); }); }
  bool Uint(unsigned value) { return Store([&](Value& v) { v.SetUnsigned(value); }); }
  bool Int64(int64_t value) { return Store([&](Value& v) { v.SetSigned(value); }); }
  bool Uint64(uint64_t value) { return Store([&](Value& v) { v.SetUnsigned(value); }); }
  // The parser's fast conversion is only near: the number is read again from
  // its text. The parser works on a copy of the stream (see the stream's
  // StreamTraits), so the stream still stands at the number's first
  // character; the number ends at the first character that cannot continue
  // it.
  bool Double(double) {
    const char* start = stream_.src_;
    std::string_view rest(start, static_cast<size_t>(end_ - start));
    std::optional<double> value = serialization_detail::FastDecimalToDouble(rest);
    if (!value) {
      const char* last = start;
      while (IsNumberCharacter(*last)) ++last;
      value = NearestDouble(std::string_view(start, static_cast<size_t>(last - start)));
    }
    return Store([&](Value& v) { v.SetFloat(*value); });
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return Store([&](Value& v) { v.SetString(std::string_view(text, length)); });
  }
  bool StartObject() {
    if (!inSequence_) return Open([](Value& v) { v.MakeStructure(); });
    // A Structure that a repeated key opens again keeps its members.
    bool reopened = false;
    if (!Open([&](Value& v) {
          reopened = v.Kind() == ValueKind::Structure && v.Size() != 0;
          v.MakeStructure();
        })) {
      return false;
    }
    objects_.push_back({});
    if (!reopened) AppendFrom(0);
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    const std::string_view name(text, length);
    try {
      slot_ = inSequence_ ? &SequentialMember(name) : &stack_.back()->AppendMember(name);
    } catch (const std::length_error&) {
      return false;
    }
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    if (!inSequence_ && stack_.back()->FinishMembers(false)) {
      repeatedName_ = true;
      return false;
    }
    if (inSequence_) {
      stack_.back()->FinishMembers();
      if (objects_.back().index != nullptr) {
        objects_.back().index->Clear();
        spareIndexes_.push_back(std::move(objects_.back().index));
      }
      objects_.pop_back();
    }
    stack_.pop_back();
    return true;
  }
  bool StartArray() {
    return Open([](Value& v) { v.MakeCollection(); });
  }
  bool EndArray(rapidjson::SizeType) {
    stack_.pop_back();
    return true;
  }

 private:
  // The slot for the next value: a new element when a Collection is open.
  Value* Place() {
    if (!stack_.empty() && stack_.back()->Kind() == ValueKind::Collection) {
      try {
        return &stack_.back()->Append();
      } catch (const std::length_error&) {
        return nullptr;  // beyond Value::kMaxElements
      }
    }
    return slot_;
  }

  // An object being read in sequence. Its first sorted members are in name
  // order; with an index, the members after them are in append order and
  // indexed, and FinishMembers sorts them in when the object ends. An object
  // a repeated key opened again starts without an index: its few new names
  // are inserted in their place, and the rest appended once they are many.
  struct OpenObject {
    std::unique_ptr<MemberIndex> index;
    size_t sorted = 0;
    size_t inserted = 0;
  };
  static constexpr size_t kMaxInserted = 32;

  // From now on the object on top appends its new names after its first
  // sorted members.
  void AppendFrom(size_t sorted) {
    OpenObject& object = objects_.back();
    if (spareIndexes_.empty()) {
      object.index = std::make_unique<MemberIndex>();
    } else {
      object.index = std::move(spareIndexes_.back());
      spareIndexes_.pop_back();
    }
    object.index->Clear(sorted);
    object.sorted = sorted;
  }

  // The member named name of the object on top: its earlier occurrence in
  // this object or the one it reopened, or a new member.
  Value& SequentialMember(std::string_view name) {
    Value& map = *stack_.back();
    OpenObject& object = objects_.back();
    if (object.index == nullptr) {
      const size_t before = map.Size();
      Value& member = map.Member(name);
      if (map.Size() != before && ++object.inserted == kMaxInserted) AppendFrom(map.Size());
      return member;
    }
    // The sorted members first, by binary search (string_view compares as
    // the member order does: unsigned bytes, a proper prefix first).
    size_t low = 0;
    size_t high = object.sorted;
    while (low < high) {
      const size_t mid = low + (high - low) / 2;
      if (map.MemberName(mid) < name) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    if (low < object.sorted && map.MemberName(low) == name) return map.MemberValue(low);
    const uint32_t hash = Fnv1a(name);
    const size_t position = object.index->Find(map, name, hash);
    if (position != map.Size()) return map.MemberValue(position);
    Value& member = map.AppendMember(name, hash);
    object.index->Add(hash);
    return member;
  }

  template <typename Fill>
  bool Store(Fill fill) {
    Value* target = Place();
    if (target == nullptr) return false;
    fill(*target);
    return true;
  }

  template <typename Fill>
  bool Open(Fill fill) {
    // Stopping here makes the parser report a handler error at this offset;
    // it also bounds the parser's own recursion.
    if (stack_.size() >= kMaxNestingDepth) return false;
    Value* target = Place();
    if (target == nullptr) return false;
    fill(*target);
    stack_.push_back(target);
    return true;
  }

  static bool IsNumberCharacter(char c) {
    static constexpr auto kTable = [] {
      std::array<bool, 256> table{};
      for (char d : std::string_view("0123456789-+.eE")) table[static_cast<unsigned char>(d)] = true;
      return table;
    }();
    return kTable[static_cast<unsigned char>(c)];
  }

  Value* slot_;
  const rapidjson::InsituStringStream& stream_;
  const char* end_;
  // The open containers; a document nesting no deeper than this allocates
  // nothing for them.
  InlineStack<Value*, 32> stack_;
  const bool inSequence_;
  bool repeatedName_ = false;
  // In sequence: the open objects, and the indexes of objects already
  // closed, kept for their storage.
  std::vector<OpenObject> objects_;
  std::vector<std::unique_ptr<MemberIndex>> spareIndexes_;
};

// Texts up to this size (less the padding) are copied to the stack.
constexpr size_t kLocalCopy = 2048;

#if defined(__SSE2__)
// The parser's 16-byte string scan stops at the bytes up to 0x19 only (its
// "below 0x20" test compares against 0x19), so a raw 0x1A..0x1F inside a
// string would be taken into the string once it lies in a block the scan
// covers, while the byte loop before and after those blocks refuses it.
//
// Every such byte ends the parse wherever it falls: in a string it is a
// control character, anywhere else no token starts or continues with it.
// The parser's grammar treats all control characters other than white space
// and NUL alike, so the first one from 0x1A up is replaced by 0x01, which
// both of the parser's string paths refuse. The parse then fails at the same
// offset with the same message as the byte loop gives for the original byte,
// or earlier, for an earlier fault, exactly as it would have anyway.
//
// buffer holds size bytes of text, then at least 15 more (the padding).
void ExposeControlCharacters(char* buffer, size_t size) {
  // All ones in the lanes of the 16 bytes at p that lie in 0x18..0x1F: a
  // cheap filter, since texts with 0x18 or 0x19 (which fail anyway) are rare;
  // the bytes it lets through are then looked at one by one.
  const __m128i high5 = _mm_set1_epi8(static_cast<char>(0xF8));
  const __m128i block = _mm_set1_epi8(0x18);
  auto inRange = [&](const char* p) {
    return _mm_cmpeq_epi8(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), high5), block);
  };
  __m128i found = _mm_setzero_si128();
  size_t at = 0;
  for (; at + 64 <= size; at += 64) {
    found = _mm_or_si128(
        found, _mm_or_si128(_mm_or_si128(inRange(buffer + at), inRange(buffer + at + 16)),
                            _mm_or_si128(inRange(buffer + at + 32), inRange(buffer + at + 48))));
  }
  // Bytes past the text are the padding's zeros, which are not in the range.
  for (; at < size; at += 16) found = _mm_or_si128(found, inRange(buffer + at));
  if (_mm_movemask_epi8(found) == 0) return;
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<unsigned char>(buffer[i] - 0x1A) <= 0x1F - 0x1A) {
      buffer[i] = 0x01;
      return;
    }
  }
}
#endif

const char* ParseErrorText(unsigned code) {
  static const char* const kTexts[] = {
      "No error.",
      "The document is empty.",
      "The document root must not be followed by other values.",
      "Invalid value.",
      "Missing a name for object member.",
      "Missing a colon after a name of object member.",
      "Missing a comma or '}' after an object member.",
      "Missing a comma or ']' after an array element.",
      "Incorrect hex digit after \\u escape in string.",
      "The surrogate pair in string is invalid.",
      "Invalid escape character in string.",
      "Missing a closing quotation mark in string.",
      "Invalid encoding in string.",
      "Number too big to be stored in double.",
      "Miss fraction part in number.",
      "Miss exponent in number.",
      "Terminate parsing due to Handler error.",
      "Unspecific syntax error.",
  };
  return code < std::size(kTexts) ? kTexts[code] : "Unknown error.";
}

}  // namespace

std::string WriteJson(const Value& value, const TypeRegistry* registry, const char* lineBreak) {
  if (value.IsEmpty()) return std::string();
  rapidjson::StringBuffer buffer;
  if (lineBreak == nullptr || *lineBreak == '\0') {
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    JsonWriteVisitor visitor(writer, registry);
    value.Accept(visitor);
    return std::string(buffer.GetString(), buffer.GetSize());
  }
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  JsonWriteVisitor visitor(writer, registry);
  value.Accept(visitor);
  if (std::strcmp(lineBreak, "\n") == 0) return std::string(buffer.GetString(), buffer.GetSize());
  return ReplaceLineBreaks(buffer.GetString(), buffer.GetSize(), lineBreak);
}

ValueResult ReadJson(std::string_view text) {
  // The text ends at its first NUL, as a NUL-terminated text would.
  size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  if (text.data() == nullptr) text = std::string_view("", 0);

  ValueResult result;
  // The parser reads a private copy in place (kParseInsituFlag): a string
  // without escapes is handed over where it lies instead of being staged on
  // the parser's stack first, and the copy ends in a NUL plus zeros for the
  // parser's 16-byte scans (they never pass the aligned block holding the
  // NUL). Short texts are copied to the stack.
  constexpr size_t kPadding = 16;
  alignas(16) char local[kLocalCopy];
  std::unique_ptr<char[]> heap;
  char* buffer = local;
  if (text.size() + kPadding > sizeof local) {
    heap.reset(new char[text.size() + kPadding]);
    buffer = heap.get();
  }
  // Every decimal number reads as its nearest double (the full-precision
  // rule). The parser's fast default is off by a few units in the last place
  // for long numbers, and differently on the 32-bit build, so the handler
  // reads each fraction again (see BuildHandler::Double); the parse flags
  // change no syntax or range rule, and integers arrive exact either way.
  //
  // A text whose objects repeat a name is read again, in sequence (see
  // BuildHandler); the first reading stopped at the first such object.
  for (bool inSequence : {false, true}) {
    std::memcpy(buffer, text.data(), text.size());
    std::memset(buffer + text.size(), 0, kPadding);
#if defined(__SSE2__)
    ExposeControlCharacters(buffer, text.size());
#endif
    rapidjson::InsituStringStream stream(buffer);
    BuildHandler handler(result.value(), stream, buffer + text.size(), inSequence);
    rapidjson::Reader reader;
    rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseInsituFlag>(stream, handler);
    if (!inSequence && handler.RepeatedName()) {
      result.value().Reset();
      continue;
    }
    if (!parsed) {
      char message[160];
      std::snprintf(message, sizeof message, "Error: %s at offset %zu.",
                    ParseErrorText(static_cast<unsigned>(parsed.Code())), parsed.Offset());
      result.SetError(message);
    }
    break;
  }
  return result;
}

ValueResult ReadJson(const char* text) {
  return ReadJson(text == nullptr ? std::string_view() : std::string_view(text));
}

}  // namespace qmx
