// The TypeId and TypeCode of every native type a registered field may have.
//
// Each native type's TypeId is a build-time constant, materialised once as a
// function-local static by TypeIdOf<T>(). The builtin types carry fixed values;
// the plugin's own types derive theirs from their registered name with FNV-1a
// (QMX_DECLARE_TYPE_ID), checked at build time never to be the reserved value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/type_id.h"
#include "binding/type_registry.h"
#include "binding/value.h"

namespace qmx {

// Specialised for every native type with a TypeId.
template <typename T>
struct TypeIdValue;

template <typename T>
const TypeId& TypeIdOf() {
  static const TypeId id(TypeIdValue<T>::value);
  return id;
}

constexpr uint32_t ConstexprFnv1a(std::string_view text) {
  uint32_t hash = 0x811C9DC5u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

// A plugin type's TypeId: FNV-1a of its qualified native name, never the
// reserved value (a collision would fail the build).
#define QMX_DECLARE_TYPE_ID(Type, nameText)                                   \
  template <>                                                                 \
  struct TypeIdValue<Type> {                                                  \
    static constexpr uint32_t value = ::qmx::ConstexprFnv1a(nameText);        \
    static_assert(value != ::qmx::TypeId::kReserved, "reserved TypeId");      \
  }

#define QMX_FIXED_TYPE_ID(Type, number)                                       \
  template <>                                                                 \
  struct TypeIdValue<Type> {                                                  \
    static constexpr uint32_t value = number;                                 \
  }

QMX_FIXED_TYPE_ID(std::string, 0x2757680B);
QMX_FIXED_TYPE_ID(int32_t, 0x1C4DE261);
QMX_FIXED_TYPE_ID(uint32_t, 0x3494B562);
QMX_FIXED_TYPE_ID(bool, 0x6AB1187C);
QMX_FIXED_TYPE_ID(Value, 0xAF98C378);
QMX_FIXED_TYPE_ID(std::vector<std::string>, 0xBFDBCD22);
QMX_FIXED_TYPE_ID(std::vector<Value>, 0xE980F126);
QMX_DECLARE_TYPE_ID(int8_t, "int8");
QMX_DECLARE_TYPE_ID(uint8_t, "uint8");
QMX_DECLARE_TYPE_ID(int16_t, "int16");
QMX_DECLARE_TYPE_ID(uint16_t, "uint16");
QMX_DECLARE_TYPE_ID(int64_t, "int64");
QMX_DECLARE_TYPE_ID(uint64_t, "uint64");
QMX_DECLARE_TYPE_ID(float, "float");
QMX_DECLARE_TYPE_ID(double, "double");

template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {
  using Element = T;
};

// Marks a native record type as a registered struct.
template <typename T>
struct IsRegisteredStruct : std::false_type {};

#define QMX_REGISTERED_STRUCT(Type) \
  template <>                       \
  struct IsRegisteredStruct<Type> : std::true_type {}

// The TypeCode of a native type.
template <typename T>
constexpr TypeCode TypeCodeOf() {
  if constexpr (std::is_same_v<T, bool>) return TypeCode::Bool;
  else if constexpr (std::is_same_v<T, int8_t>) return TypeCode::Int8;
  else if constexpr (std::is_same_v<T, uint8_t>) return TypeCode::Uint8;
  else if constexpr (std::is_same_v<T, int16_t>) return TypeCode::Int16;
  else if constexpr (std::is_same_v<T, uint16_t>) return TypeCode::Uint16;
  else if constexpr (std::is_same_v<T, int32_t>) return TypeCode::Int32;
  else if constexpr (std::is_same_v<T, uint32_t>) return TypeCode::Uint32;
  else if constexpr (std::is_same_v<T, int64_t>) return TypeCode::Int64;
  else if constexpr (std::is_same_v<T, uint64_t>) return TypeCode::Uint64;
  else if constexpr (std::is_same_v<T, float>) return TypeCode::Float;
  else if constexpr (std::is_same_v<T, double>) return TypeCode::Double;
  else if constexpr (std::is_same_v<T, std::string>) return TypeCode::String;
  else if constexpr (std::is_same_v<T, Value>) return TypeCode::Object;
  else if constexpr (std::is_enum_v<T>) return TypeCode::Enum;
  else if constexpr (IsVector<T>::value) return TypeCode::Vector;
  else if constexpr (IsRegisteredStruct<T>::value) return TypeCode::Struct;
  else return TypeCode::None;
}

// The type whose descriptor a TypeRef of T carries: T itself for an Enum or
// a Struct, the element for a vector of them, void when there is none.
template <typename T>
struct DescribedType {
  using Type = void;
};
template <typename T>
  requires(std::is_enum_v<T> || IsRegisteredStruct<T>::value)
struct DescribedType<T> {
  using Type = T;
};
template <typename T>
  requires(std::is_enum_v<T> || IsRegisteredStruct<T>::value)
struct DescribedType<std::vector<T>> {
  using Type = T;
};

// The TypeRef of a native type without its descriptor.
template <typename T>
constexpr TypeRef BareTypeRefOf() {
  TypeRef ref;
  ref.code = TypeCodeOf<T>();
  if constexpr (IsVector<T>::value) ref.elementCode = TypeCodeOf<typename IsVector<T>::Element>();
  return ref;
}

// The TypeRef of a native type; Enum and Struct descriptors (directly or as a
// vector's element) are looked up in the registry by TypeId.
template <typename T>
TypeRef TypeRefOf(const TypeRegistry& registry) {
  TypeRef ref = BareTypeRefOf<T>();
  using Described = typename DescribedType<T>::Type;
  if constexpr (!std::is_void_v<Described>) ref.descriptor = registry.FindType(TypeIdOf<Described>());
  return ref;
}

}  // namespace qmx
