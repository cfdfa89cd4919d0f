// The type registry: the plugin's reflection database of native records.
//
// Every native record that crosses a boundary as a Value is described once at
// start-up by a TypeDescriptor (size, fields with offsets, types and codecs, or
// enumerators). Conversions walk these descriptors.
//
// Thread safety: the four maps (functions, events, types by name, types by id)
// are read and written under the registry mutex. Descriptors themselves are not
// locked: they are filled by the registering thread at start-up and only read
// afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/type_id.h"
#include "binding/value.h"

namespace qmx {

enum class TypeCode : uint8_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  Uint8 = 3,
  Int16 = 4,
  Uint16 = 5,
  Int32 = 6,
  Uint32 = 7,
  Int64 = 8,
  Uint64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,
  Blob = 14,
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,
};

// "bool", "int8", ... "map"; "" for None and unknown codes.
const char* TypeCodeName(TypeCode code);

class TypeRegistry;
struct TypeDescriptor;
class EndpointCallable;  // the dispatcher's function object

// The type of a field, argument or return value: one level of nesting only.
struct TypeRef {
  TypeCode code = TypeCode::None;
  TypeCode elementCode = TypeCode::None;  // of a Vector's element or a Map's value
  const TypeDescriptor* descriptor = nullptr;  // the Enum or Struct involved
};

// Converts one native member between its native form and a Value.
class FieldCodec {
 public:
  // Assigns the native member at destination from input. Does nothing when
  // result is already failed; on failure calls SetError and leaves the
  // destination as it was.
  virtual void NativeFromValue(ValueResult& result, void* destination, const Value& input,
                               std::string_view targetName, const TypeDescriptor* descriptor,
                               const TypeRegistry& registry, uint32_t flags) const = 0;
  // Resets result to an ok Empty value and stores the native member in it.
  virtual void NativeToValue(ValueResult& result, const void* source,
                             const TypeDescriptor* descriptor,
                             const TypeRegistry& registry) const = 0;
  // Stores the native member in out, an Empty value that may lie inside
  // result's value (a member or element being filled), so that nested records
  // are built in place instead of through a root of their own. result must be
  // ok on entry; a failure calls SetError on it, which discards out.
  virtual void NativeToValueInto(ValueResult& result, Value& out, const void* source,
                                 const TypeDescriptor* descriptor,
                                 const TypeRegistry& registry) const;
  virtual ~FieldCodec() = default;
};

enum FieldFlags : uint32_t {
  kOmitIfEmpty = 1u << 0,
  kRequired = 1u << 1,
};

struct FieldDescriptor {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of name, set with it by TypeBuilder::AddField
  std::string description;
  TypeId typeId;
  size_t offset = 0;
  TypeRef type;
  uint32_t flags = 0;
  std::unique_ptr<FieldCodec> codec;
  const TypeRegistry* registry = nullptr;
  bool optional = false;
};

struct EnumeratorDescriptor {
  int32_t number = 0;
  std::string name;
  std::string description;
  const TypeRegistry* registry = nullptr;
};

struct TypeDescriptor {
  size_t size = 0;
  bool isEnum = false;
  std::string name;
  TypeId typeId;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::vector<FieldDescriptor> fields;                      // Struct only, registration order
  // Struct only, kept by TypeBuilder::AddField while the field names are
  // unique (both empty once two fields share a name): fieldsByName lists the
  // fields' indices in the member order of a Structure (byte-wise by name),
  // and memberPositions[i] is field i's place in that order.
  std::vector<uint32_t> fieldsByName;
  std::vector<uint32_t> memberPositions;
  std::map<std::string, EnumeratorDescriptor> enumerators;  // Enum only, by name
  const TypeRegistry* registry = nullptr;
};

struct EventDescriptor {
  std::string name;
  const TypeDescriptor* type = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// Where an argument of a registered function comes from (see the dispatcher).
struct ArgumentDescriptor {
  std::string name;
  std::string description;
  bool optional = false;
  TypeRef type;
  uint32_t location = 0;
};

struct FunctionDescriptor {
  std::string name;
  std::vector<ArgumentDescriptor> arguments;
  TypeRef returns;
  std::string nameSpace;
  std::string description;
  std::string help;
  std::vector<std::string> tags;
  bool threadSafe = false;
  bool async = false;
  const TypeRegistry* registry = nullptr;
  // Routing data: the path template, the method code and the call name.
  std::string path;
  uint32_t method = 0;
  std::string callName;
  // What a call of the function runs; null for descriptions without a body.
  std::shared_ptr<const EndpointCallable> callable;
};

// Builds one TypeDescriptor. In "already registered" mode (the name was taken
// by an earlier registration) every call is ignored: the first registration
// of a name wins.
class TypeBuilder {
 public:
  TypeBuilder(TypeDescriptor* descriptor, bool alreadyRegistered)
      : descriptor_(descriptor), alreadyRegistered_(alreadyRegistered) {}

  TypeBuilder& AddField(std::string name, std::string description, size_t offset, TypeId typeId,
                        TypeRef type, uint32_t flags, std::unique_ptr<FieldCodec> codec,
                        bool optional);
  // Inserts or, when the name is present, overwrites number and description.
  TypeBuilder& AddEnumerator(std::string name, int32_t number, std::string description);
  TypeBuilder& SetDescription(std::string text);
  TypeBuilder& SetNameSpace(std::string text);
  // Appends text unless it is empty; duplicates remain.
  TypeBuilder& AddTag(std::string text);
  TypeBuilder& AddTags(const std::vector<std::string>& tags);

  bool AlreadyRegistered() const { return alreadyRegistered_; }
  // The descriptor being built, or the earlier one in already registered mode.
  const TypeDescriptor* Descriptor() const { return descriptor_; }

 private:
  // Brings fieldsByName and memberPositions up to date after a new field.
  static void IndexFieldNames(TypeDescriptor& descriptor);

  TypeDescriptor* descriptor_;
  bool alreadyRegistered_;
};

class EventBuilder {
 public:
  EventBuilder(EventDescriptor* descriptor, bool alreadyRegistered)
      : descriptor_(descriptor), alreadyRegistered_(alreadyRegistered) {}
  EventBuilder& SetDescription(std::string text);
  EventBuilder& AddTag(std::string text);
  bool AlreadyRegistered() const { return alreadyRegistered_; }
  const EventDescriptor* Descriptor() const { return descriptor_; }

 private:
  EventDescriptor* descriptor_;
  bool alreadyRegistered_;
};

// What TypeRegistry::BeginType describes: a record with fields, or an
// enumeration with enumerators.
enum class TypeKind : uint8_t { Struct, Enum };

// Whether TypeRegistry::RegisterFunction makes a function findable by name.
enum class FunctionListing : uint8_t {
  Listed,    // stored by name: FindFunction, Functions and ListedFunctionCount see it
  Unlisted,  // owned by the registry for its lifetime, found by no name
};

class TypeRegistry {
 public:
  TypeRegistry();
  virtual ~TypeRegistry();
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  // Starts the description of a native type of size bytes: a new descriptor
  // stored under name and, unless typeId is TypeId::kReserved, under typeId
  // (taking that id over from any other name that had it). Returns a builder
  // for the new descriptor. When name is taken already, nothing is stored:
  // the builder is in already registered mode over the earlier descriptor,
  // which keeps its own size, id and kind.
  TypeBuilder BeginType(size_t size, std::string name, TypeId typeId, TypeKind kind);
  const TypeDescriptor* FindType(TypeId typeId) const;
  const TypeDescriptor* FindTypeByName(std::string_view name) const;
  // The alphabetically first enumerator of the enumeration with that number.
  std::optional<std::string> FindEnumeratorName(TypeId enumType, int32_t number) const;
  static bool IsEnumerator(const TypeDescriptor& descriptor, int32_t number);

  EventBuilder RegisterEvent(std::string name, const TypeDescriptor* payloadType);
  const EventDescriptor* FindEvent(std::string_view name) const;
  // Takes descriptor over, points its registry at this one, and returns the
  // stored descriptor, valid until the registry is cleared or destroyed.
  // Listed functions are stored by name (see FunctionListing); a listed name
  // already taken keeps its first descriptor, which is returned, while the
  // new one is dropped and the listed count stays. An unlisted function is
  // always stored, whatever its name.
  FunctionDescriptor* RegisterFunction(FunctionDescriptor descriptor, FunctionListing listing);
  const FunctionDescriptor* FindFunction(std::string_view name) const;
  size_t ListedFunctionCount() const;

  // Registers the builtin help, async and event types and the OnCallback
  // event; a second call first removes everything registered.
  void RegisterBuiltins();

  // Whole-struct conversions (the Struct codec's operations). NativeToValue
  // resets result to an ok Empty value first.
  void NativeFromValue(ValueResult& result, void* nativeRecord, const Value& input,
                       std::string_view targetName, const TypeDescriptor* structDescriptor,
                       uint32_t flags = 0) const;
  void NativeToValue(ValueResult& result, const void* nativeRecord,
                     const TypeDescriptor* structDescriptor) const;

  // Snapshots for describing the registry to the host, in name order.
  std::vector<const TypeDescriptor*> Types() const;
  std::vector<const EventDescriptor*> Events() const;
  std::vector<const FunctionDescriptor*> Functions() const;

 private:
  void Clear();

  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<FunctionDescriptor>, std::less<>> functions_;
  std::vector<std::unique_ptr<FunctionDescriptor>> unlistedFunctions_;
  std::map<std::string, std::unique_ptr<EventDescriptor>, std::less<>> events_;
  std::map<std::string, std::unique_ptr<TypeDescriptor>, std::less<>> typesByName_;
  std::unordered_map<uint32_t, TypeDescriptor*> typesById_;
  size_t listedFunctions_ = 0;
  bool builtinsRegistered_ = false;
};

}  // namespace qmx
