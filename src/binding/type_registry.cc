#include "binding/type_registry.h"

#include <algorithm>

#include "binding/builtin_types.h"
#include "binding/native_conversion.h"

namespace qmx {

const char* TypeCodeName(TypeCode code) {
  static const char* const kNames[] = {"",      "bool",   "int8",   "uint8",  "int16",
                                       "uint16", "int32", "uint32", "int64",  "uint64",
                                       "float",  "double", "string", "object", "blob",
                                       "vector", "enum",  "struct", "callback", "map"};
  auto index = static_cast<unsigned>(code);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "";
}

TypeBuilder& TypeBuilder::AddField(std::string name, std::string description, size_t offset,
                                   TypeId typeId, TypeRef type, uint32_t flags,
                                   std::unique_ptr<FieldCodec> codec, bool optional) {
  if (alreadyRegistered_) return *this;
  FieldDescriptor field;
  field.nameHash = Fnv1a(name);
  field.name = std::move(name);
  field.description = std::move(description);
  field.typeId = typeId;
  field.offset = offset;
  field.type = type;
  field.flags = flags;
  field.codec = std::move(codec);
  field.registry = descriptor_->registry;
  field.optional = optional;
  descriptor_->fields.push_back(std::move(field));
  IndexFieldNames(*descriptor_);
  return *this;
}

void TypeBuilder::IndexFieldNames(TypeDescriptor& descriptor) {
  const std::vector<FieldDescriptor>& fields = descriptor.fields;
  std::vector<uint32_t>& byName = descriptor.fieldsByName;
  std::vector<uint32_t>& positions = descriptor.memberPositions;
  bool unique = byName.size() + 1 == fields.size();
  byName.clear();
  positions.clear();
  if (!unique) return;  // a name repeated before this field
  for (uint32_t i = 0; i < fields.size(); ++i) byName.push_back(i);
  // std::string's order is the member order: unsigned bytes, a prefix first.
  std::sort(byName.begin(), byName.end(),
            [&](uint32_t a, uint32_t b) { return fields[a].name < fields[b].name; });
  for (size_t i = 1; i < byName.size(); ++i) {
    if (fields[byName[i - 1]].name == fields[byName[i]].name) {
      byName.clear();
      return;
    }
  }
  positions.resize(fields.size());
  for (uint32_t position = 0; position < byName.size(); ++position) positions[byName[position]] = position;
}

TypeBuilder& TypeBuilder::AddEnumerator(std::string name, int32_t number, std::string description) {
  if (alreadyRegistered_) return *this;
  EnumeratorDescriptor& entry = descriptor_->enumerators[name];
  entry.name = std::move(name);
  entry.number = number;
  entry.description = std::move(description);
  entry.registry = descriptor_->registry;
  return *this;
}

TypeBuilder& TypeBuilder::SetDescription(std::string text) {
  if (!alreadyRegistered_) descriptor_->description = std::move(text);
  return *this;
}

TypeBuilder& TypeBuilder::SetNameSpace(std::string text) {
  if (!alreadyRegistered_) descriptor_->nameSpace = std::move(text);
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(std::string text) {
  if (!alreadyRegistered_ && !text.empty()) descriptor_->tags.push_back(std::move(text));
  return *this;
}

TypeBuilder& TypeBuilder::AddTags(const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) AddTag(tag);
  return *this;
}

EventBuilder& EventBuilder::SetDescription(std::string text) {
  if (!alreadyRegistered_) descriptor_->description = std::move(text);
  return *this;
}

EventBuilder& EventBuilder::AddTag(std::string text) {
  if (!alreadyRegistered_ && !text.empty()) descriptor_->tags.push_back(std::move(text));
  return *this;
}

TypeRegistry::TypeRegistry() = default;

TypeRegistry::~TypeRegistry() { Clear(); }

void TypeRegistry::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
  typesById_.clear();
  typesByName_.clear();
  functions_.clear();
  unlistedFunctions_.clear();
  listedFunctions_ = 0;
}

TypeBuilder TypeRegistry::BeginType(size_t size, std::string name, TypeId typeId, TypeKind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = typesByName_.find(name);
  if (found != typesByName_.end()) return TypeBuilder(found->second.get(), true);
  auto descriptor = std::make_unique<TypeDescriptor>();
  descriptor->size = size;
  descriptor->isEnum = kind == TypeKind::Enum;
  descriptor->name = name;
  descriptor->typeId = typeId;
  descriptor->registry = this;
  TypeDescriptor* raw = descriptor.get();
  typesByName_.emplace(std::move(name), std::move(descriptor));
  if (typeId.value != TypeId::kReserved) typesById_[typeId.value] = raw;
  return TypeBuilder(raw, false);
}

const TypeDescriptor* TypeRegistry::FindType(TypeId typeId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = typesById_.find(typeId.value);
  return found == typesById_.end() ? nullptr : found->second;
}

const TypeDescriptor* TypeRegistry::FindTypeByName(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = typesByName_.find(name);
  return found == typesByName_.end() ? nullptr : found->second.get();
}

std::optional<std::string> TypeRegistry::FindEnumeratorName(TypeId enumType, int32_t number) const {
  const TypeDescriptor* descriptor = FindType(enumType);
  if (descriptor == nullptr) return std::nullopt;
  for (const auto& [name, enumerator] : descriptor->enumerators) {
    if (enumerator.number == number) return name;
  }
  return std::nullopt;
}

bool TypeRegistry::IsEnumerator(const TypeDescriptor& descriptor, int32_t number) {
  for (const auto& entry : descriptor.enumerators) {
    if (entry.second.number == number) return true;
  }
  return false;
}

EventBuilder TypeRegistry::RegisterEvent(std::string name, const TypeDescriptor* payloadType) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.find(name);
  if (found != events_.end()) return EventBuilder(found->second.get(), true);
  auto event = std::make_unique<EventDescriptor>();
  event->name = name;
  event->type = payloadType;
  EventDescriptor* raw = event.get();
  events_.emplace(std::move(name), std::move(event));
  return EventBuilder(raw, false);
}

const EventDescriptor* TypeRegistry::FindEvent(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.find(name);
  return found == events_.end() ? nullptr : found->second.get();
}

FunctionDescriptor* TypeRegistry::RegisterFunction(FunctionDescriptor descriptor,
                                                   FunctionListing listing) {
  auto function = std::make_unique<FunctionDescriptor>(std::move(descriptor));
  function->registry = this;
  FunctionDescriptor* raw = function.get();
  std::lock_guard<std::mutex> lock(mutex_);
  if (listing == FunctionListing::Unlisted) {
    unlistedFunctions_.push_back(std::move(function));
    return raw;
  }
  // The first registration of a name wins, as for types: descriptors are
  // handed out by pointer (the API descriptor, routes), so an earlier one
  // must never be replaced. The new one is dropped.
  auto [slot, inserted] = functions_.try_emplace(raw->name, nullptr);
  if (!inserted) return slot->second.get();
  slot->second = std::move(function);
  ++listedFunctions_;
  return raw;
}

const FunctionDescriptor* TypeRegistry::FindFunction(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = functions_.find(name);
  return found == functions_.end() ? nullptr : found->second.get();
}

size_t TypeRegistry::ListedFunctionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listedFunctions_;
}

void TypeRegistry::RegisterBuiltins() {
  if (builtinsRegistered_) {
    Clear();
    builtinsRegistered_ = false;
  }
  RegisterHelpTypes(*this);
  RegisterAsyncBuiltins(*this);
  builtinsRegistered_ = true;
}

void TypeRegistry::NativeFromValue(ValueResult& result, void* nativeRecord, const Value& input,
                                   std::string_view targetName,
                                   const TypeDescriptor* structDescriptor, uint32_t flags) const {
  StructFromValue(result, nativeRecord, input, targetName, structDescriptor, *this, flags);
}

void TypeRegistry::NativeToValue(ValueResult& result, const void* nativeRecord,
                                 const TypeDescriptor* structDescriptor) const {
  // Like every codec's NativeToValue: an earlier failure does not carry over.
  result = ValueResult();
  StructToValue(result, nativeRecord, structDescriptor, *this);
}

std::vector<const TypeDescriptor*> TypeRegistry::Types() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const TypeDescriptor*> types;
  for (const auto& entry : typesByName_) types.push_back(entry.second.get());
  return types;
}

std::vector<const EventDescriptor*> TypeRegistry::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const EventDescriptor*> events;
  for (const auto& entry : events_) events.push_back(entry.second.get());
  return events;
}

std::vector<const FunctionDescriptor*> TypeRegistry::Functions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const FunctionDescriptor*> functions;
  for (const auto& entry : functions_) functions.push_back(entry.second.get());
  return functions;
}

}  // namespace qmx
