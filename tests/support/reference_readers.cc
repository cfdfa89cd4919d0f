// The JSON reference and the value comparison.
//
// This file must not see RAPIDJSON_SSE2 or RAPIDJSON_SIMD: the reference
// reads with RapidJSON's byte loops. Its stream type is its own, so none of
// the parser instantiations here can be merged with ReadJson's.
#include "support/reference_readers.h"

#include <rapidjson/reader.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/base64.h"

#if defined(RAPIDJSON_SSE2) || defined(RAPIDJSON_SSE42) || defined(RAPIDJSON_NEON)
#error "the JSON reference must read with RapidJSON's byte loops"
#endif

namespace qmx::reference {
namespace {

// The text as RapidJSON's string stream would read it from a NUL-terminated
// copy: past the end every byte is NUL, and Take still moves on, so offsets are
// those of the plain parser.
class TextStream {
 public:
  using Ch = char;
  explicit TextStream(std::string_view text) : text_(text) {}

  Ch Peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
  Ch Take() {
    Ch c = Peek();
    ++position_;
    return c;
  }
  size_t Tell() const { return position_; }

  // The number literal that ends where the stream stands.
  std::string_view LiteralBefore() const {
    size_t end = std::min(position_, text_.size());
    size_t start = end;
    while (start > 0 && std::strchr("0123456789+-.eE", text_[start - 1]) != nullptr &&
           text_[start - 1] != '\0') {
      --start;
    }
    return text_.substr(start, end - start);
  }

  // Only in-place parsing writes to the stream, and the reference never asks
  // for it.
  Ch* PutBegin() {
    std::abort();
  }
  void Put(Ch) { std::abort(); }
  void Flush() {}
  size_t PutEnd(Ch*) { std::abort(); }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

// An open array or object.
struct Frame {
  Value* target;
  bool object;
  // A repeated key's later object (or anything inside one).
  bool reopened;
  std::set<std::string> keys;  // the names this object's text has given so far
};

class Builder {
 public:
  Builder(Value& root, const TextStream& stream, Rules rules, Notes& notes)
      : root_(root), stream_(stream), rules_(rules), notes_(notes) {}

  bool Null() {
    Slot().Reset();
    return true;
  }
  bool Bool(bool value) {
    Slot().SetBool(value);
    return true;
  }
  // RapidJSON reports a literal with a leading '-' through Int or Int64 and
  // one without through Uint or Uint64.
  bool Int(int value) { return Integer(true, static_cast<uint64_t>(static_cast<int64_t>(value))); }
  bool Uint(unsigned value) { return Integer(false, value); }
  bool Int64(int64_t value) { return Integer(true, static_cast<uint64_t>(value)); }
  bool Uint64(uint64_t value) { return Integer(false, value); }
  // RapidJSON's default conversion is only near the literal's value; ReadJson
  // promises the nearest double, so the reference reads the literal again
  // with strtod. RapidJSON still decides the grammar and the range error.
  bool Double(double) {
    std::string literal(stream_.LiteralBefore());
    if (rules_.numbersThroughDouble) return ThroughDouble(literal);
    Slot().SetFloat(std::strtod(literal.c_str(), nullptr));
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    Slot().SetString(std::string_view(text, length));
    return true;
  }
  bool StartObject() { return Open(true); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    Frame& top = frames_.back();
    std::string name(text, length);
    bool repeated = !top.keys.insert(name).second;
    if (repeated && top.reopened) notes_.repeatedKeyInReopenedObject = true;
    pending_ = &top.target->Member(name);
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return Open(false); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

 private:
  // The value the next token fills: the root, a new element of the open
  // array, or the member of the last key.
  Value& Slot() {
    if (frames_.empty()) return root_;
    Frame& top = frames_.back();
    if (!top.object) return top.target->Element(top.target->Size());
    return *pending_;
  }

  bool Integer(bool minus, uint64_t bits) {
    if (rules_.numbersThroughDouble) return ThroughDouble(std::string(stream_.LiteralBefore()));
    if (minus) {
      Slot().SetSigned(static_cast<int64_t>(bits));
    } else {
      Slot().SetUnsigned(bits);
    }
    return true;
  }

  // YAML's untagged number: strtod's double; with a fractional part a Float,
  // otherwise Unsigned when not negative (so -0 is Unsigned 0), else Signed.
  bool ThroughDouble(const std::string& literal) {
    double number = std::strtod(literal.c_str(), nullptr);
    Value& slot = Slot();
    if (number != std::trunc(number)) {
      slot.SetFloat(number);
    } else if (!(number < 0)) {
      if (number >= 18446744073709551616.0) notes_.numberLeftOpen = true;
      slot.SetUnsigned(number >= 18446744073709551616.0 ? 0 : static_cast<uint64_t>(number));
    } else {
      if (number < -9223372036854775808.0) notes_.numberLeftOpen = true;
      slot.SetSigned(number < -9223372036854775808.0 ? 0 : static_cast<int64_t>(number));
    }
    return true;
  }

  bool Open(bool object) {
    // ReadJson's own bound, not JSON's: deeper containers stop the parse
    // with a handler error at the same offset.
    if (frames_.size() >= kMaxNestingDepth) return false;
    Value& slot = Slot();
    bool reopened = !frames_.empty() && frames_.back().reopened;
    if (rules_.containersReplace) {
      slot.Reset();
    } else if (object && slot.Kind() == ValueKind::Structure) {
      reopened = true;
    }
    if (object) {
      slot.MakeStructure();
    } else {
      slot.MakeCollection();
    }
    frames_.push_back(Frame{&slot, object, reopened, {}});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  Value& root_;
  const TextStream& stream_;
  Rules rules_;
  Notes& notes_;
  std::vector<Frame> frames_;
  Value* pending_ = nullptr;
};

const char* ErrorText(rapidjson::ParseErrorCode code) {
  switch (code) {
    case rapidjson::kParseErrorNone: return "No error.";
    case rapidjson::kParseErrorDocumentEmpty: return "The document is empty.";
    case rapidjson::kParseErrorDocumentRootNotSingular:
      return "The document root must not be followed by other values.";
    case rapidjson::kParseErrorValueInvalid: return "Invalid value.";
    case rapidjson::kParseErrorObjectMissName: return "Missing a name for object member.";
    case rapidjson::kParseErrorObjectMissColon: return "Missing a colon after a name of object member.";
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
      return "Missing a comma or '}' after an object member.";
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
      return "Missing a comma or ']' after an array element.";
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
      return "Incorrect hex digit after \\u escape in string.";
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
      return "The surrogate pair in string is invalid.";
    case rapidjson::kParseErrorStringEscapeInvalid: return "Invalid escape character in string.";
    case rapidjson::kParseErrorStringMissQuotationMark:
      return "Missing a closing quotation mark in string.";
    case rapidjson::kParseErrorStringInvalidEncoding: return "Invalid encoding in string.";
    case rapidjson::kParseErrorNumberTooBig: return "Number too big to be stored in double.";
    case rapidjson::kParseErrorNumberMissFraction: return "Miss fraction part in number.";
    case rapidjson::kParseErrorNumberMissExponent: return "Miss exponent in number.";
    case rapidjson::kParseErrorTermination: return "Terminate parsing due to Handler error.";
    case rapidjson::kParseErrorUnspecificSyntaxError: return "Unspecific syntax error.";
  }
  return "Unknown error.";
}

bool SameFloat(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string FloatText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void DescribeInto(const Value& value, std::string& out, size_t limit) {
  if (out.size() > limit) return;
  switch (value.Kind()) {
    case ValueKind::Empty: out += "null"; return;
    case ValueKind::Bool: out += value.GetBool() ? "true" : "false"; return;
    case ValueKind::Signed: out += "s" + std::to_string(value.GetSigned()); return;
    case ValueKind::Unsigned: out += "u" + std::to_string(value.GetUnsigned()); return;
    case ValueKind::Float: out += "f" + FloatText(value.GetFloat()); return;
    case ValueKind::String: out += Quoted(value.GetString()); return;
    case ValueKind::Blob: out += "b\"" + Base64Encode(value.GetBlob()) + "\""; return;
    case ValueKind::Enum: out += "e" + std::to_string(value.GetEnum().number); return;
    case ValueKind::Collection:
      out += '[';
      for (size_t i = 0; i < value.Size() && out.size() <= limit; ++i) {
        if (i != 0) out += ',';
        DescribeInto(value.At(i), out, limit);
      }
      out += ']';
      return;
    case ValueKind::Structure:
      out += '{';
      for (size_t i = 0; i < value.Size() && out.size() <= limit; ++i) {
        if (i != 0) out += ',';
        out += Quoted(value.MemberName(i)) + ':';
        DescribeInto(value.MemberValue(i), out, limit);
      }
      out += '}';
      return;
  }
}

std::string DifferenceAt(const std::string& path, const Value& expected, const Value& actual) {
  auto differ = [&](const std::string& what) {
    return (path.empty() ? std::string("$") : path) + ": " + what + " (expected " +
           Describe(expected, 200) + ", got " + Describe(actual, 200) + ")";
  };
  if (expected.Kind() != actual.Kind()) {
    return differ(std::string(KindName(expected.Kind())) + " vs " + KindName(actual.Kind()));
  }
  switch (expected.Kind()) {
    case ValueKind::Empty: return "";
    case ValueKind::Bool: return expected.GetBool() == actual.GetBool() ? "" : differ("bool");
    case ValueKind::Signed: return expected.GetSigned() == actual.GetSigned() ? "" : differ("signed");
    case ValueKind::Unsigned:
      return expected.GetUnsigned() == actual.GetUnsigned() ? "" : differ("unsigned");
    case ValueKind::Float:
      return SameFloat(expected.GetFloat(), actual.GetFloat()) ? "" : differ("float");
    case ValueKind::String: return expected.GetString() == actual.GetString() ? "" : differ("string");
    case ValueKind::Blob: {
      auto a = expected.GetBlob();
      auto b = actual.GetBlob();
      bool same = a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
      return same ? "" : differ("blob");
    }
    case ValueKind::Enum: {
      EnumRecord a = expected.GetEnum();
      EnumRecord b = actual.GetEnum();
      return a.number == b.number && a.type == b.type ? "" : differ("enum");
    }
    case ValueKind::Collection:
      if (expected.Size() != actual.Size()) {
        return differ(std::to_string(expected.Size()) + " vs " + std::to_string(actual.Size()) + " elements");
      }
      for (size_t i = 0; i < expected.Size(); ++i) {
        std::string found = DifferenceAt(path + "[" + std::to_string(i) + "]", expected.At(i), actual.At(i));
        if (!found.empty()) return found;
      }
      return "";
    case ValueKind::Structure:
      if (expected.Size() != actual.Size()) {
        return differ(std::to_string(expected.Size()) + " vs " + std::to_string(actual.Size()) + " members");
      }
      for (size_t i = 0; i < expected.Size(); ++i) {
        if (expected.MemberName(i) != actual.MemberName(i)) {
          return differ("member " + std::to_string(i) + " is " + Quoted(expected.MemberName(i)) + " vs " +
                        Quoted(actual.MemberName(i)));
        }
        std::string found = DifferenceAt(path + "." + Quoted(expected.MemberName(i)), expected.MemberValue(i),
                                         actual.MemberValue(i));
        if (!found.empty()) return found;
      }
      return "";
  }
  return "";
}

}  // namespace

ValueResult ReadJson(std::string_view text, Rules rules, Notes* notes) {
  size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  Notes unused;
  ValueResult result;
  TextStream stream(text);
  Builder builder(result.value(), stream, rules, notes != nullptr ? *notes : unused);
  rapidjson::Reader reader;
  rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseDefaultFlags>(stream, builder);
  if (!parsed) {
    result.SetError("Error: " + std::string(ErrorText(parsed.Code())) + " at offset " +
                    std::to_string(parsed.Offset()) + ".");
  }
  return result;
}

std::string Difference(const Value& expected, const Value& actual) {
  return DifferenceAt("", expected, actual);
}

std::string Difference(const ValueResult& expected, const ValueResult& actual, bool compareErrors) {
  if (expected.Ok() != actual.Ok()) {
    return expected.Ok() ? "expected success, got failure: " + std::string(actual.ErrorText())
                         : "expected failure (" + std::string(expected.ErrorText()) + "), got success: " +
                               Describe(actual.value(), 300);
  }
  if (!expected.Ok() && !compareErrors) return "";
  return Difference(expected.value(), actual.value());
}

std::string Describe(const Value& value, size_t limit) {
  std::string out;
  DescribeInto(value, out, limit);
  if (out.size() > limit) {
    out.resize(limit);
    out += "...";
  }
  return out;
}

}  // namespace qmx::reference
