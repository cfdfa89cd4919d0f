// The value cell: construction, reset, the setters and readers of every kind,
// element arrays, deep copy and swap, text and the visitor walk. Member maps
// are in member_map.cc.
//
// About 500 lines, kept as one file on purpose: nearly every operation is a
// switch over the ten kinds, and reading those switches side by side is how
// the cell's rules (who owns what, what a reset releases) stay consistent.
#include "binding/value.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "binding/arena_array.h"
#include "binding/member_map.h"
#include "binding/value_context.h"
#include "common/base64.h"

namespace qmx {
namespace {

const char* const kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                  "string", "blob", "enum",   "collection", "structure"};

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

void Value::Clear() {
  if (!ownsContext_ || context_ == nullptr) return Reset();
  // Everything the tree holds lives in the context, so the tree goes with
  // the context's contents, unvisited.
  context_->Clear();
  payload_.unsignedValue = 0;
  kind_ = ValueKind::Empty;
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
    case ValueKind::Structure:
      payload_.members->Release(context_);
      context_->members.Free(payload_.members);
      break;
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

std::span<Value> Value::AppendElements(size_t count) {
  if (kind_ != ValueKind::Collection) MakeCollection();
  ElementArray* array = payload_.elements;
  size_t size = static_cast<size_t>(array->end - array->begin);
  if (size >= kMaxElements) throw std::length_error("vector<T> too long");
  if (count > kMaxElements - size) count = kMaxElements - size;
  if (static_cast<size_t>(array->capacity - array->end) < count) {
    GrowTo(context_, *array, GrownCapacity(static_cast<size_t>(array->capacity - array->begin), size + count));
  }
  Value* first = array->end;
  for (Value* child = first; child != first + count; ++child) {
    child->payload_.unsignedValue = 0;
    child->context_ = context_;
    child->kind_ = ValueKind::Empty;
    child->ownsContext_ = false;
  }
  array->end = first + count;
  return {first, count};
}

void Value::TruncateElements(size_t size) {
  if (kind_ != ValueKind::Collection) return;
  ElementArray* array = payload_.elements;
  while (static_cast<size_t>(array->end - array->begin) > size) {
    --array->end;
    array->end->~Value();
  }
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
  if (kind_ == ValueKind::Structure) payload_.members->Reserve(context_, count);
}

Value& Value::Member(std::string_view name) {
  MakeStructure();
  return payload_.members->FindOrInsert(context_, name);
}

Value& Value::Member(std::string_view name, uint32_t nameHash) {
  MakeStructure();
  return payload_.members->FindOrInsert(context_, name, nameHash);
}

Value& Value::AppendMember(std::string_view name, uint32_t nameHash) {
  MakeStructure();
  return payload_.members->Append(context_, name, nameHash);
}

bool Value::FinishMembers(bool foldRepeated) {
  return kind_ == ValueKind::Structure && payload_.members->Finish(context_, foldRepeated);
}

const Value& Value::FindMember(std::string_view name) const {
  if (kind_ != ValueKind::Structure) return EmptyValue();
  const MemberSlot* slot = payload_.members->Find(name);
  return slot != nullptr ? slot->value : EmptyValue();
}

const Value& Value::FindMember(std::string_view name, uint32_t nameHash) const {
  if (kind_ != ValueKind::Structure) return EmptyValue();
  const MemberSlot* slot = payload_.members->Find(name, nameHash);
  return slot != nullptr ? slot->value : EmptyValue();
}

bool Value::HasMember(std::string_view name) const {
  return kind_ == ValueKind::Structure && payload_.members->Find(name) != nullptr;
}

bool Value::RemoveMember(std::string_view name) {
  if (kind_ != ValueKind::Structure) return false;
  MemberMap* map = payload_.members;
  MemberSlot* slot = map->Find(name);
  if (slot == nullptr) return false;
  map->Remove(context_, static_cast<size_t>(slot - map->begin));
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
      return payload_.members->Size();
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
