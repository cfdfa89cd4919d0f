#include "binding/value.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <stdexcept>

#include "binding/value_context.h"
#include "common/base64.h"

namespace qmx {
namespace {

const char* const kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                  "string", "blob", "enum",   "collection", "structure"};

// Child cells hold no pointers to themselves, so arrays of them move bitwise.
template <typename T>
void Relocate(T* to, T* from, size_t count) {
  if (count != 0) std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), count * sizeof(T));
}

size_t GrownCapacity(size_t current, size_t needed) {
  size_t grown = current < 4 ? 4 : current + current / 2;
  if (grown > Value::kMaxElements) grown = Value::kMaxElements;
  return grown < needed ? needed : grown;
}

// Element arrays and member maps live in blocks of the context's arena; a
// block's spare bytes become capacity.
template <typename Entry>
Entry* AllocateEntries(ValueContext* context, size_t& count) {
  size_t bytes = BlockArena::Usable(count * sizeof(Entry));
  auto* entries = static_cast<Entry*>(context->blocks.Allocate(bytes));
  count = bytes / sizeof(Entry);
  if (count > Value::kMaxElements) count = Value::kMaxElements;
  return entries;
}

template <typename Entry>
void FreeEntries(ValueContext* context, Entry* entries, size_t capacity) {
  context->blocks.Free(entries, capacity * sizeof(Entry));
}

template <typename Array>
void FreeArray(ValueContext* context, Array& array) {
  FreeEntries(context, array.begin, static_cast<size_t>(array.capacity - array.begin));
}

int CompareName(const InternedString* a, std::string_view name) {
  size_t common = std::min<size_t>(a->length, name.size());
  // memcmp compares as unsigned bytes.
  int order = common == 0 ? 0 : std::memcmp(a->Text(), name.data(), common);
  if (order != 0) return order;
  return a->length < name.size() ? -1 : (a->length > name.size() ? 1 : 0);
}

// Byte-wise (unsigned) order of the full names; a proper prefix sorts first.
// This is the order of NUL-terminated comparison, extended to names that hold
// a NUL so that distinct names never compare equal.
int CompareNames(const InternedString* a, const InternedString* b) {
  return a == b ? 0 : CompareName(a, b->View());
}

// A member's place in FinishMembers' sort.
struct SortKey {
  uint64_t prefix;
  uint32_t index;
};

// The first eight bytes of a name as a big-endian number, zero-padded: two
// names whose prefixes differ compare as their prefixes do (a name that ends
// early is a proper prefix of the other, or differs before it ends).
uint64_t NamePrefix(const InternedString* name) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, name->Text(), name->length < 8 ? name->length : 8);
  uint64_t prefix = 0;
  for (unsigned char byte : bytes) prefix = (prefix << 8) | byte;
  return prefix;
}

// Index of the first member whose name is not less than name.
size_t LowerBound(const MemberMap* map, std::string_view name) {
  size_t low = 0;
  size_t high = static_cast<size_t>(map->end - map->begin);
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (CompareName(map->begin[mid].name, name) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

}  // namespace

const char* KindName(ValueKind kind) { return KindName(static_cast<unsigned>(kind)); }

const char* KindName(unsigned kind) { return kind < 10 ? kKindNames[kind] : ""; }

const Value& Value::EmptyValue() {
  static const Value empty;
  return empty;
}

Value::~Value() {
  if (ownsContext_ && context_ != nullptr) {
    // Everything the tree holds lives in the context's pages and large-block
    // list, so the whole document goes with the context, unvisited.
    ValueContext::Destroy(context_);
    return;
  }
  Reset();
}

Value::Value(Value&& other) noexcept { Swap(other); }

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) Swap(other);
  return *this;
}

ValueContext* Value::EnsureContext() {
  if (context_ == nullptr) context_ = ValueContext::Create();
  return context_;
}

void Value::MakeChildOf(ValueContext* context) {
  context_ = context;
  ownsContext_ = false;
}

void Value::Reset() {
  switch (kind_) {
    case ValueKind::String:
      context_->Release(payload_.string);
      break;
    case ValueKind::Blob: {
      BlobHolder* blob = payload_.blob;
      context_->blocks.Free(blob->begin, static_cast<size_t>(blob->capacity - blob->begin));
      context_->blobs.Free(blob);
      break;
    }
    case ValueKind::Enum:
      context_->enums.Free(payload_.enumerator);
      break;
    case ValueKind::Collection: {
      ElementArray* array = payload_.elements;
      for (Value* v = array->begin; v != array->end; ++v) v->~Value();
      FreeArray(context_, *array);
      context_->elements.Free(array);
      break;
    }
    case ValueKind::Structure: {
      MemberMap* map = payload_.members;
      for (MemberSlot* m = map->begin; m != map->end; ++m) {
        m->value.~Value();
        context_->Release(m->name);
      }
      FreeArray(context_, *map);
      context_->members.Free(map);
      break;
    }
    default:
      break;
  }
  kind_ = ValueKind::Empty;
  payload_.unsignedValue = 0;
}

namespace {

// Kinds below String hold nothing outside the cell.
bool HoldsStorage(ValueKind kind) { return kind >= ValueKind::String; }

}  // namespace

void Value::SetBool(bool value) {
  if (HoldsStorage(kind_)) Reset();
  payload_.boolean = value;
  kind_ = ValueKind::Bool;
}

void Value::SetSigned(int64_t value) {
  if (HoldsStorage(kind_)) Reset();
  payload_.signedValue = value;
  kind_ = ValueKind::Signed;
}

void Value::SetUnsigned(uint64_t value) {
  if (HoldsStorage(kind_)) Reset();
  payload_.unsignedValue = value;
  kind_ = ValueKind::Unsigned;
}

void Value::SetFloat(double value) {
  if (HoldsStorage(kind_)) Reset();
  payload_.floatValue = value;
  kind_ = ValueKind::Float;
}

void Value::SetString(std::string_view text) {
  // Intern before resetting: text may point into this value's own string.
  InternedString* entry = EnsureContext()->Intern(text);
  if (HoldsStorage(kind_)) Reset();
  payload_.string = entry;
  kind_ = ValueKind::String;
}

void Value::SetBlob(std::span<const uint8_t> bytes) { SetBlob(bytes.data(), bytes.size()); }

void Value::SetBlob(const void* data, size_t size) {
  ValueContext* context = EnsureContext();
  auto* buffer = size == 0 ? nullptr : static_cast<uint8_t*>(context->blocks.Allocate(size));
  if (size != 0) std::memcpy(buffer, data, size);
  BlobHolder* blob;
  try {
    Reset();
    blob = static_cast<BlobHolder*>(context->blobs.Allocate());
  } catch (...) {
    context->blocks.Free(buffer, size);
    throw;
  }
  blob->begin = buffer;
  blob->end = buffer + size;
  blob->capacity = buffer + size;
  payload_.blob = blob;
  kind_ = ValueKind::Blob;
}

void Value::SetEnum(int32_t number, TypeId enumType) {
  Reset();
  auto* record = static_cast<EnumRecord*>(EnsureContext()->enums.Allocate());
  record->number = number;
  record->type = enumType.value;
  payload_.enumerator = record;
  kind_ = ValueKind::Enum;
}

bool Value::GetBool() const { return kind_ == ValueKind::Bool && payload_.boolean; }
int64_t Value::GetSigned() const { return kind_ == ValueKind::Signed ? payload_.signedValue : 0; }
uint64_t Value::GetUnsigned() const {
  return kind_ == ValueKind::Unsigned ? payload_.unsignedValue : 0;
}
double Value::GetFloat() const { return kind_ == ValueKind::Float ? payload_.floatValue : 0.0; }

std::string_view Value::GetString() const {
  return kind_ == ValueKind::String ? payload_.string->View() : std::string_view();
}

std::span<const uint8_t> Value::GetBlob() const {
  if (kind_ != ValueKind::Blob) return {};
  return {payload_.blob->begin, static_cast<size_t>(payload_.blob->end - payload_.blob->begin)};
}

EnumRecord Value::GetEnum() const {
  return kind_ == ValueKind::Enum ? *payload_.enumerator : EnumRecord{0, 0};
}

void Value::MakeCollection() {
  if (kind_ == ValueKind::Collection) return;
  ValueContext* context = EnsureContext();
  Reset();
  auto* array = static_cast<ElementArray*>(context->elements.Allocate());
  array->begin = array->end = array->capacity = nullptr;
  payload_.elements = array;
  kind_ = ValueKind::Collection;
}

// Gives an element array or member map room for count entries, moving what
// it holds; never shrinks.
template <typename Array>
void GrowTo(ValueContext* context, Array& array, size_t count) {
  using Entry = std::remove_pointer_t<decltype(array.begin)>;
  size_t capacity = static_cast<size_t>(array.capacity - array.begin);
  if (count <= capacity) return;
  size_t size = static_cast<size_t>(array.end - array.begin);
  Entry* grown = AllocateEntries<Entry>(context, count);
  Relocate(grown, array.begin, size);
  FreeArray(context, array);
  array.begin = grown;
  array.end = grown + size;
  array.capacity = grown + count;
}

void Value::Reserve(size_t count) {
  if (kind_ != ValueKind::Collection) return;
  if (count > kMaxElements) throw std::length_error("vector<T> too long");
  GrowTo(context_, *payload_.elements, count);
}

Value& Value::Append() {
  if (kind_ != ValueKind::Collection) MakeCollection();
  ElementArray* array = payload_.elements;
  if (array->end == array->capacity) {
    size_t size = static_cast<size_t>(array->end - array->begin);
    if (size >= kMaxElements) throw std::length_error("vector<T> too long");
    GrowTo(context_, *array, GrownCapacity(size, size + 1));
  }
  Value* child = array->end++;
  child->payload_.unsignedValue = 0;
  child->context_ = context_;
  child->kind_ = ValueKind::Empty;
  child->ownsContext_ = false;
  return *child;
}

Value& Value::Element(size_t index) {
  MakeCollection();
  if (index >= kMaxElements) throw std::length_error("vector<T> too long");
  ElementArray* array = payload_.elements;
  size_t size = static_cast<size_t>(array->end - array->begin);
  if (index < size) return array->begin[index];
  size_t capacity = static_cast<size_t>(array->capacity - array->begin);
  if (index >= capacity) Reserve(GrownCapacity(capacity, index + 1));
  while (static_cast<size_t>(array->end - array->begin) <= index) {
    Value* child = new (array->end) Value();
    child->MakeChildOf(context_);
    ++array->end;
  }
  return array->begin[index];
}

const Value& Value::At(size_t index) const {
  if (kind_ != ValueKind::Collection) return EmptyValue();
  const ElementArray* array = payload_.elements;
  if (index >= static_cast<size_t>(array->end - array->begin)) return EmptyValue();
  return array->begin[index];
}

void Value::MakeStructure() {
  if (kind_ == ValueKind::Structure) return;
  ValueContext* context = EnsureContext();
  Reset();
  auto* map = static_cast<MemberMap*>(context->members.Allocate());
  map->begin = map->end = map->capacity = nullptr;
  payload_.members = map;
  kind_ = ValueKind::Structure;
}

void Value::ReserveMembers(size_t count) {
  if (kind_ != ValueKind::Structure) return;
  if (count > kMaxElements) throw std::length_error("vector<T> too long");
  GrowTo(context_, *payload_.members, count);
}

namespace {

// Makes room for one more member at position; returns the slot, uninitialised.
MemberSlot* InsertSlot(ValueContext* context, MemberMap* map, size_t position) {
  size_t size = static_cast<size_t>(map->end - map->begin);
  if (map->end == map->capacity) {
    if (size >= Value::kMaxElements) throw std::length_error("vector<T> too long");
    size_t capacity = GrownCapacity(size, size + 1);
    MemberSlot* grown = AllocateEntries<MemberSlot>(context, capacity);
    Relocate(grown, map->begin, position);
    Relocate(grown + position + 1, map->begin + position, size - position);
    FreeArray(context, *map);
    map->begin = grown;
    map->end = grown + size + 1;
    map->capacity = grown + capacity;
  } else {
    if (size > position) {
      std::memmove(static_cast<void*>(map->begin + position + 1),
                   static_cast<const void*>(map->begin + position),
                   (size - position) * sizeof(MemberSlot));
    }
    ++map->end;
  }
  return map->begin + position;
}

}  // namespace

Value& Value::Member(std::string_view name) {
  MakeStructure();
  MemberMap* map = payload_.members;
  size_t position = LowerBound(map, name);
  size_t size = static_cast<size_t>(map->end - map->begin);
  if (position < size && CompareName(map->begin[position].name, name) == 0) {
    return map->begin[position].value;
  }
  InternedString* interned = context_->Intern(name);
  MemberSlot* slot;
  try {
    slot = InsertSlot(context_, map, position);
  } catch (...) {
    context_->Release(interned);
    throw;
  }
  slot->name = interned;
  new (&slot->value) Value();
  slot->value.MakeChildOf(context_);
  return slot->value;
}

Value& Value::AppendMember(std::string_view name) { return AppendMember(name, Fnv1a(name)); }

Value& Value::AppendMember(std::string_view name, uint32_t nameHash) {
  MakeStructure();
  MemberMap* map = payload_.members;
  InternedString* interned = context_->Intern(name, nameHash);
  MemberSlot* slot;
  try {
    slot = InsertSlot(context_, map, static_cast<size_t>(map->end - map->begin));
  } catch (...) {
    context_->Release(interned);
    throw;
  }
  slot->name = interned;
  new (&slot->value) Value();
  slot->value.MakeChildOf(context_);
  return slot->value;
}

namespace {

// Folds a later member value into the earlier one of the same name, with the
// effect sequential writes through Member() would have had.
void FoldInto(Value& earlier, Value& later) {
  if (later.Kind() == ValueKind::Structure && earlier.Kind() == ValueKind::Structure) {
    for (size_t i = 0; i < later.Size(); ++i) {
      FoldInto(earlier.Member(later.MemberName(i)), later.MemberValue(i));
    }
  } else if (later.Kind() == ValueKind::Collection && earlier.Kind() == ValueKind::Collection) {
    for (size_t i = 0; i < later.Size(); ++i) earlier.Append().Swap(const_cast<Value&>(later.At(i)));
  } else {
    earlier.Swap(later);
  }
}

}  // namespace

void Value::FinishMembers() {
  if (kind_ != ValueKind::Structure) return;
  MemberMap* map = payload_.members;
  size_t size = static_cast<size_t>(map->end - map->begin);
  bool ordered = true;
  for (size_t i = 1; i < size && ordered; ++i) {
    ordered = CompareNames(map->begin[i - 1].name, map->begin[i].name) < 0;
  }
  if (ordered) return;

  MemberSlot* slots = map->begin;
  if (const uint32_t* known = context_->FindOrder(slots, size)) {
    // The same names as a map sorted before: its order holds, and it had no
    // repeated name.
    size_t capacity = size;
    MemberSlot* sorted = AllocateEntries<MemberSlot>(context_, capacity);
    for (size_t i = 0; i < size; ++i) {
      std::memcpy(static_cast<void*>(sorted + i), static_cast<const void*>(slots + known[i]), sizeof *slots);
    }
    FreeArray(context_, *map);
    map->begin = sorted;
    map->end = sorted + size;
    map->capacity = sorted + capacity;
    return;
  }

  // Sort an index rather than the cells themselves: cells are relocated only
  // once, bitwise, into their final place. Each entry carries the first eight
  // bytes of its name as a number, so most comparisons never reach the text.
  // Small maps (most of a document's) sort by insertion in a local index.
  constexpr size_t kLocalOrder = 64;
  SortKey local[kLocalOrder];
  size_t orderCapacity = size;
  SortKey* order = size <= kLocalOrder ? local : AllocateEntries<SortKey>(context_, orderCapacity);
  for (size_t i = 0; i < size; ++i) order[i] = {NamePrefix(slots[i].name), static_cast<uint32_t>(i)};
  auto less = [slots](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return CompareNames(slots[a.index].name, slots[b.index].name) < 0;
  };
  if (order == local) {
    // Binary insertion after any equal names keeps the sort stable.
    for (size_t i = 1; i < size; ++i) {
      SortKey moving = order[i];
      if (!less(moving, order[i - 1])) continue;
      size_t low = 0, high = i - 1;
      while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (less(moving, order[mid])) {
          high = mid;
        } else {
          low = mid + 1;
        }
      }
      std::memmove(static_cast<void*>(order + low + 1), static_cast<const void*>(order + low),
                   (i - low) * sizeof order[0]);
      order[low] = moving;
    }
  } else {
    try {
      std::stable_sort(order, order + size, less);
    } catch (...) {
      FreeEntries(context_, order, orderCapacity);
      throw;
    }
  }
  if (size <= ValueContext::kMaxRememberedSize) {
    // Orders without a repeated name are remembered for the next map of the
    // same shape (see FindOrder above).
    bool unique = true;
    for (size_t i = 1; i < size && unique; ++i) unique = slots[order[i - 1].index].name != slots[order[i].index].name;
    if (unique) {
      uint32_t permutation[ValueContext::kMaxRememberedSize];
      for (size_t i = 0; i < size; ++i) permutation[i] = order[i].index;
      context_->RememberOrder(slots, size, permutation);
    }
  }
  size_t sortedCapacity = size;
  MemberSlot* sorted;
  try {
    sorted = AllocateEntries<MemberSlot>(context_, sortedCapacity);
  } catch (...) {
    if (order != local) FreeEntries(context_, order, orderCapacity);
    throw;
  }
  size_t kept = 0;
  for (size_t i = 0; i < size; ++i) {
    MemberSlot& source = slots[order[i].index];
    // Names are interned: equal names are the same entry.
    if (kept != 0 && sorted[kept - 1].name == source.name) {
      // A repeated name: fold the later occurrence into the earlier one, which
      // stable sorting placed first, then drop it.
      FoldInto(sorted[kept - 1].value, source.value);
      source.value.~Value();
      context_->Release(source.name);
      continue;
    }
    std::memcpy(static_cast<void*>(sorted + kept), static_cast<const void*>(&source), sizeof source);
    ++kept;
  }
  if (order != local) FreeEntries(context_, order, orderCapacity);
  FreeArray(context_, *map);
  map->begin = sorted;
  map->end = sorted + kept;
  map->capacity = sorted + sortedCapacity;
}

const Value& Value::FindMember(std::string_view name) const {
  if (kind_ != ValueKind::Structure) return EmptyValue();
  const MemberMap* map = payload_.members;
  size_t position = LowerBound(map, name);
  if (position < static_cast<size_t>(map->end - map->begin) &&
      CompareName(map->begin[position].name, name) == 0) {
    return map->begin[position].value;
  }
  return EmptyValue();
}

bool Value::HasMember(std::string_view name) const {
  if (kind_ != ValueKind::Structure) return false;
  const MemberMap* map = payload_.members;
  size_t position = LowerBound(map, name);
  return position < static_cast<size_t>(map->end - map->begin) &&
         CompareName(map->begin[position].name, name) == 0;
}

bool Value::RemoveMember(std::string_view name) {
  if (!HasMember(name)) return false;
  MemberMap* map = payload_.members;
  size_t position = LowerBound(map, name);
  MemberSlot* slot = map->begin + position;
  slot->value.~Value();
  context_->Release(slot->name);
  size_t after = static_cast<size_t>(map->end - slot) - 1;
  if (after != 0) {
    std::memmove(static_cast<void*>(slot), static_cast<const void*>(slot + 1),
                 after * sizeof(MemberSlot));
  }
  --map->end;
  return true;
}

std::string_view Value::MemberName(size_t index) const {
  if (kind_ != ValueKind::Structure || index >= Size()) return {};
  return payload_.members->begin[index].name->View();
}

const Value& Value::MemberValue(size_t index) const {
  if (kind_ != ValueKind::Structure || index >= Size()) return EmptyValue();
  return payload_.members->begin[index].value;
}

Value& Value::MemberValue(size_t index) {
  if (kind_ != ValueKind::Structure || index >= Size()) {
    throw std::out_of_range("member index out of range");
  }
  return payload_.members->begin[index].value;
}

size_t Value::Size() const {
  switch (kind_) {
    case ValueKind::Empty:
      return 0;
    case ValueKind::String:
      return payload_.string->length;
    case ValueKind::Blob:
      return static_cast<size_t>(payload_.blob->end - payload_.blob->begin);
    case ValueKind::Collection:
      return static_cast<size_t>(payload_.elements->end - payload_.elements->begin);
    case ValueKind::Structure:
      return static_cast<size_t>(payload_.members->end - payload_.members->begin);
    default:
      return 1;
  }
}

void Value::Assign(const Value& other) {
  if (this == &other) return;
  if (other.context_ != nullptr && other.context_ == context_ &&
      (other.kind_ == ValueKind::Collection || other.kind_ == ValueKind::Structure)) {
    // The source may lie inside this value (or this inside the source): copy it
    // out first so that resetting this value cannot destroy it.
    Value copy;
    copy.AssignFrom(other);
    AssignFrom(copy);
    return;
  }
  AssignFrom(other);
}

void Value::AssignFrom(const Value& other) {
  switch (other.kind_) {
    case ValueKind::Empty:
      Reset();
      break;
    case ValueKind::Bool:
      SetBool(other.payload_.boolean);
      break;
    case ValueKind::Signed:
      SetSigned(other.payload_.signedValue);
      break;
    case ValueKind::Unsigned:
      SetUnsigned(other.payload_.unsignedValue);
      break;
    case ValueKind::Float:
      SetFloat(other.payload_.floatValue);
      break;
    case ValueKind::String:
      SetString(other.payload_.string->View());
      break;
    case ValueKind::Blob:
      SetBlob(other.GetBlob());
      break;
    case ValueKind::Enum:
      SetEnum(other.payload_.enumerator->number, TypeId(other.payload_.enumerator->type));
      break;
    case ValueKind::Collection: {
      Reset();
      MakeCollection();
      size_t count = other.Size();
      Reserve(count);
      for (size_t i = 0; i < count; ++i) Append().AssignFrom(other.payload_.elements->begin[i]);
      break;
    }
    case ValueKind::Structure: {
      Reset();
      MakeStructure();
      const MemberMap* source = other.payload_.members;
      for (const MemberSlot* m = source->begin; m != source->end; ++m) {
        // Source members are already in order and unique: append directly.
        AppendMember(m->name->View()).AssignFrom(m->value);
      }
      break;
    }
  }
}

namespace {

bool Contains(const Value& tree, const Value* target) {
  if (&tree == target) return true;
  if (tree.Kind() == ValueKind::Collection) {
    for (size_t i = 0; i < tree.Size(); ++i) {
      if (Contains(tree.At(i), target)) return true;
    }
  } else if (tree.Kind() == ValueKind::Structure) {
    for (size_t i = 0; i < tree.Size(); ++i) {
      if (Contains(tree.MemberValue(i), target)) return true;
    }
  }
  return false;
}

}  // namespace

void Value::Swap(Value& other) {
  if (this == &other) return;
  if (ownsContext_ && other.ownsContext_) {
    std::swap(payload_, other.payload_);
    std::swap(context_, other.context_);
    std::swap(kind_, other.kind_);
    other.Reset();
    return;
  }
  // A source inside this value is destroyed by the copy itself.
  bool inside = context_ != nullptr && other.context_ == context_ && Contains(*this, &other);
  Assign(other);
  if (!inside) other.Reset();
}

std::string Value::ToString() const {
  char buffer[512];
  switch (kind_) {
    case ValueKind::Bool:
      return payload_.boolean ? "true" : "false";
    case ValueKind::Signed:
      std::snprintf(buffer, sizeof buffer, "%" PRId64, payload_.signedValue);
      return buffer;
    case ValueKind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "%" PRIu64, payload_.unsignedValue);
      return buffer;
    case ValueKind::Float:
      std::snprintf(buffer, sizeof buffer, "%f", payload_.floatValue);
      return buffer;
    case ValueKind::String:
      return std::string(payload_.string->View());
    case ValueKind::Blob:
      return Base64Encode(GetBlob());
    case ValueKind::Enum:
      std::snprintf(buffer, sizeof buffer, "%" PRId32, payload_.enumerator->number);
      return buffer;
    default:
      return std::string();
  }
}

void Value::Accept(ValueVisitor& visitor) const {
  switch (kind_) {
    case ValueKind::Empty:
      visitor.Null();
      break;
    case ValueKind::Bool:
      visitor.Bool(payload_.boolean);
      break;
    case ValueKind::Signed:
      visitor.Signed(payload_.signedValue);
      break;
    case ValueKind::Unsigned:
      visitor.Unsigned(payload_.unsignedValue);
      break;
    case ValueKind::Float:
      visitor.Float(payload_.floatValue);
      break;
    case ValueKind::String:
      visitor.String(payload_.string->View());
      break;
    case ValueKind::Blob:
      visitor.Blob(GetBlob());
      break;
    case ValueKind::Enum:
      visitor.Enum(*payload_.enumerator);
      break;
    case ValueKind::Collection: {
      const ElementArray* array = payload_.elements;
      size_t count = static_cast<size_t>(array->end - array->begin);
      visitor.BeginCollection(count);
      for (size_t i = 0; i < count; ++i) {
        visitor.BeginElement(i);
        array->begin[i].Accept(visitor);
        visitor.EndElement(i);
      }
      visitor.EndCollection();
      break;
    }
    case ValueKind::Structure: {
      const MemberMap* map = payload_.members;
      size_t count = static_cast<size_t>(map->end - map->begin);
      visitor.BeginStructure(count);
      for (size_t i = 0; i < count; ++i) {
        std::string_view name = map->begin[i].name->View();
        visitor.BeginMember(name);
        map->begin[i].value.Accept(visitor);
        visitor.EndMember(name);
      }
      visitor.EndStructure();
      break;
    }
  }
}

std::string_view ValueResult::ErrorText() const {
  if (ok_) return {};
  const Value& error = value_.FindMember("error");
  return error.Kind() == ValueKind::String ? error.GetString() : std::string_view();
}

void ValueResult::SetError(std::string_view message) {
  // The message may live in this result's own value: copy it before resetting.
  std::string text(message);
  value_.Reset();
  value_.Member("error").SetString(text);
  ok_ = false;
}

}  // namespace qmx
