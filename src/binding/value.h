// Value: the dynamic value every boundary of the plugin speaks.
//
// A Value is a small tagged cell. Everything that does not fit in the cell
// (strings, blobs, enumerator records, element arrays, member maps) lives in a
// context (an arena) that belongs to the root value of a document and is shared
// by every value nested inside it:
//
//   - A default-constructed Value is an Empty root: it owns its context, which
//     is created lazily by the first operation that needs heap storage.
//   - Values reached through Element(), Append() or Member() are children: they
//     share their root's context and must never outlive the root.
//   - Strings are interned per context (FNV-1a, reference counted); the empty
//     string is one shared static entry that is never counted.
//   - Structure members are unique by name and always iterate in ascending
//     byte-wise order of their names, whatever the insertion order.
//
// Thread safety: a Value and its context are not synchronized; one thread at a
// time builds or reads a document. The page pool behind the contexts' record
// pools is process-wide and has its own mutex.
//
// Failure: container size limits raise std::length_error("vector<T> too long");
// out-of-memory raises std::bad_alloc. Everything else reports through
// ValueResult, never by exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/type_id.h"

namespace qmx {

// The deepest nesting of collections and structures that any reader builds or
// any boundary conversion accepts. Walks over a Value (reset, copy, write) are
// recursive, so this bound keeps them within a small stack.
inline constexpr unsigned kMaxNestingDepth = 1000;

enum class ValueKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The text messages print for a kind: "empty", "bool", ... "structure"; any
// number outside 0..9 gives "".
const char* KindName(ValueKind kind);
const char* KindName(unsigned kind);

// The payload of an Enum value: the enumerator's number and the TypeId value of
// the enumeration it belongs to.
struct EnumRecord {
  int32_t number;
  uint32_t type;
};

// 32-bit FNV-1a over the bytes of text (offset basis 0x811C9DC5, prime
// 16777619): the hash of every context's string table. Inline: every decoded
// name and string is hashed, and most are a few bytes long.
inline uint32_t Fnv1a(std::string_view text) {
  constexpr uint32_t kPrime = 16777619u;
  uint32_t hash = 0x811C9DC5u;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  // Eight bytes a round: the same chain of steps with less loop overhead.
  for (; n >= 8; n -= 8, p += 8) {
    hash = (hash ^ p[0]) * kPrime;
    hash = (hash ^ p[1]) * kPrime;
    hash = (hash ^ p[2]) * kPrime;
    hash = (hash ^ p[3]) * kPrime;
    hash = (hash ^ p[4]) * kPrime;
    hash = (hash ^ p[5]) * kPrime;
    hash = (hash ^ p[6]) * kPrime;
    hash = (hash ^ p[7]) * kPrime;
  }
  if (n >= 4) {
    hash = (hash ^ p[0]) * kPrime;
    hash = (hash ^ p[1]) * kPrime;
    hash = (hash ^ p[2]) * kPrime;
    hash = (hash ^ p[3]) * kPrime;
    n -= 4;
    p += 4;
  }
  for (; n != 0; --n, ++p) hash = (hash ^ *p) * kPrime;
  return hash;
}

class Value;
class ValueContext;
struct InternedString;
struct ElementArray;
struct MemberMap;
struct BlobHolder;

// Depth-first walk over a Value (see Value::Accept). Slot order matters to
// implementations that are laid out against it; keep it.
class ValueVisitor {
 public:
  virtual void Null() = 0;
  virtual void Bool(bool value) = 0;
  virtual void Signed(int64_t value) = 0;
  virtual void Unsigned(uint64_t value) = 0;
  virtual void Float(double value) = 0;
  virtual void String(std::string_view text) = 0;
  virtual void Blob(std::span<const uint8_t> bytes) = 0;
  virtual void Enum(const EnumRecord& record) = 0;
  virtual void BeginCollection(size_t count) = 0;
  virtual void BeginElement(size_t index) = 0;
  virtual void EndElement(size_t index) = 0;
  virtual void EndCollection() = 0;
  virtual void BeginStructure(size_t memberCount) = 0;
  virtual void BeginMember(std::string_view name) = 0;
  virtual void EndMember(std::string_view name) = 0;
  virtual void EndStructure() = 0;
  virtual ~ValueVisitor() = default;
};

class Value {
 public:
  // Collections hold at most this many elements.
  static constexpr size_t kMaxElements = 0x0FFFFFFF;

  Value() = default;
  ~Value();

  // Moving a root takes its cells (see Swap); the source is left Empty.
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  ValueKind Kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == ValueKind::Empty; }
  bool IsRoot() const { return ownsContext_; }

  // Releases the payload; the value becomes Empty.
  void Reset();
  // The same, for a value about to hold something else: a root drops its
  // whole tree at once and keeps its arena for what it holds next, where
  // Reset releases the tree member by member; any other value is Reset.
  void Clear();

  // Each setter resets the value first. The scalar ones are inline: readers
  // call them once per item.
  void SetBool(bool value) { SetScalar(ValueKind::Bool).boolean = value; }
  void SetSigned(int64_t value) { SetScalar(ValueKind::Signed).signedValue = value; }
  void SetUnsigned(uint64_t value) { SetScalar(ValueKind::Unsigned).unsignedValue = value; }
  void SetFloat(double value) { SetScalar(ValueKind::Float).floatValue = value; }
  void SetString(std::string_view text);
  void SetBlob(std::span<const uint8_t> bytes);
  void SetBlob(const void* data, size_t size);
  void SetEnum(int32_t number, TypeId enumType);

  // Readers: each returns the payload when the kind matches, and a zero value
  // (false, 0, "", no bytes) otherwise.
  //
  // The views GetString and GetBlob return point into the document's context,
  // not into this cell: they stay valid while this value keeps its content,
  // also when the cell itself moves (its parent's elements or members grow or
  // are removed). They end when this value is next changed (a setter, Reset,
  // Assign, Swap, a move, Element/Member/Make* turning it into a container) or
  // destroyed, and at the latest when its root is destroyed.
  bool GetBool() const;
  int64_t GetSigned() const;
  uint64_t GetUnsigned() const;
  double GetFloat() const;
  std::string_view GetString() const;
  std::span<const uint8_t> GetBlob() const;
  EnumRecord GetEnum() const;

  // Collections. MakeCollection keeps an existing Collection; any other kind is
  // reset into an empty one. Element(i) makes the value a Collection (discarding
  // other content), appends Empty children until index i exists and returns
  // child i. Append() adds one Empty child at the end.
  void MakeCollection();
  void Reserve(size_t count);
  Value& Element(size_t index);
  Value& Append();
  // Bulk building for decoders that know how many elements follow: appends
  // up to count Empty children at once (fewer only where the Collection would
  // pass kMaxElements) and returns them. The cells stay where they are until
  // the element array next grows. Makes the value a Collection first, as
  // Append does; raises std::length_error when it is full already.
  std::span<Value> AppendElements(size_t count);
  // Keeps the first size elements of a Collection and destroys the rest;
  // nothing for any other kind or a Collection not longer than size.
  void TruncateElements(size_t size);
  // Read-only element i; a shared static Empty value when out of range or not
  // a Collection.
  const Value& At(size_t index) const;

  // Structures. MakeStructure keeps an existing Structure; any other kind is
  // reset into an empty one. Member(name) makes the value a Structure, then
  // finds or inserts the member. FindMember never inserts: on a non-Structure or
  // a missing name it returns a shared static Empty value.
  void MakeStructure();
  // Makes room for count members in a Structure (any other kind: nothing);
  // raises std::length_error beyond kMaxElements.
  void ReserveMembers(size_t count);
  Value& Member(std::string_view name);
  const Value& FindMember(std::string_view name) const;
  // The same two for a caller that has nameHash = Fnv1a(name) at hand (a
  // field descriptor keeps its name's), so the name is not hashed again.
  Value& Member(std::string_view name, uint32_t nameHash);
  const Value& FindMember(std::string_view name, uint32_t nameHash) const;
  bool HasMember(std::string_view name) const;
  // Removes a member; returns false when there was none.
  bool RemoveMember(std::string_view name);
  // Members in name order. A name's view lives as long as its member.
  std::string_view MemberName(size_t index) const;
  const Value& MemberValue(size_t index) const;
  Value& MemberValue(size_t index);

  // Bulk building for decoders. AppendMember adds a member at the end without
  // looking for an existing one and without keeping the name order; the caller
  // must call FinishMembers() on this value before anything else reads or looks
  // up its members. FinishMembers restores the order and folds repeated names
  // into one member as if every member had been written through Member(name)
  // in sequence: a later scalar replaces the earlier value, a later Structure
  // merges into an earlier Structure, a later Collection appends its elements
  // to an earlier Collection, and a later container of another kind replaces
  // the earlier value. The fold sees each member's value as it stands, as one
  // write per name: a member value whose own repeated names were folded has
  // lost the order of its writes ({"b":2,"b":[3]} is then the same as
  // {"b":[3]}, yet merged into {"b":[1]} the first gives [3], the second
  // [1,3]). A decoder must find repeated names as they come wherever that can
  // matter; FinishMembers returns whether a name repeated. With foldRepeated
  // false it folds nothing: members whose names repeat are left in append
  // order, and such a value may then only be reset or destroyed (for a
  // decoder that starts over in another way).
  Value& AppendMember(std::string_view name) { return AppendMember(name, Fnv1a(name)); }
  // The same for a decoder that has hashed the name already: nameHash must be
  // Fnv1a(name), so the name is not hashed a second time.
  Value& AppendMember(std::string_view name, uint32_t nameHash);
  bool FinishMembers(bool foldRepeated = true);

  // Empty 0; String its byte length; Blob its byte count; Collection its
  // element count; Structure its member count; every other kind 1.
  size_t Size() const;

  // Deep copy into this value's context. Assigning a value to itself does
  // nothing.
  void Assign(const Value& other);
  // When both are roots the two cells exchange everything; otherwise other is
  // deep-copied into this value. Either way other is then reset to Empty. other
  // may lie inside this value (it is gone afterwards); this value must not lie
  // inside other.
  void Swap(Value& other);

  // Bool "true"/"false"; integers in decimal; Float with "%f"; String itself;
  // Blob as standard Base64; Enum its number; every other kind "".
  std::string ToString() const;

  void Accept(ValueVisitor& visitor) const;

  // The shared, immutable Empty value returned by failed lookups.
  static const Value& EmptyValue();

 private:
  friend class ValueContext;
  friend class MemberMarks;
  friend struct ElementArray;
  friend struct MemberMap;

  ValueContext* EnsureContext();
  // Releases what the value holds outside its cell (nothing for the kinds
  // below String) and gives it kind; the caller writes the payload.
  union Payload;
  Payload& SetScalar(ValueKind kind) {
    if (kind_ >= ValueKind::String) Reset();
    kind_ = kind;
    return payload_;
  }
  void MakeChildOf(ValueContext* context);
  void AssignFrom(const Value& other);

  union Payload {
    bool boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    InternedString* string;
    BlobHolder* blob;
    EnumRecord* enumerator;
    ElementArray* elements;
    MemberMap* members;
  };

  Payload payload_{.unsignedValue = 0};
  ValueContext* context_ = nullptr;
  ValueKind kind_ = ValueKind::Empty;
  bool ownsContext_ = true;
};

// A Value plus a success flag. A failure is ok false with a Structure holding
// the single String member "error".
class ValueResult {
 public:
  ValueResult() = default;
  ValueResult(ValueResult&&) noexcept = default;
  ValueResult& operator=(ValueResult&&) noexcept = default;

  bool Ok() const { return ok_; }
  // "" when ok, otherwise the "error" member's text ("" when it is missing or
  // not a String).
  std::string_view ErrorText() const;
  // Resets the value to {"error": message} and clears the flag; the last error
  // wins.
  void SetError(std::string_view message);

  Value& value() { return value_; }
  const Value& value() const { return value_; }

  static ValueResult Failure(std::string_view message) {
    ValueResult result;
    result.SetError(message);
    return result;
  }

 private:
  Value value_;
  bool ok_ = true;
};

}  // namespace qmx
