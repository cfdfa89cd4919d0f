// Conversions between native records and Values, driven by the registry's
// descriptors.
//
// Every conversion reports into a ValueResult: it does nothing once the result
// has failed, and the first failure (one fixed message) stops it. Nothing here
// throws for bad input.
//
// Registering a struct stays a straight sequence of builder calls:
//
//   TypeBuilder b = registry.BeginType(sizeof(Token), "EntitlementsToken", TypeIdOf<Token>(),
//                                      TypeKind::Struct);
//   AddMember(b, registry, "token", &Token::token);
//   AddMember(b, registry, "entitlements", &Token::entitlements);
//   b.SetDescription("...").AddTags(tags);
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/native_types.h"
#include "binding/type_registry.h"
#include "binding/value.h"

namespace qmx {

// The scalar rules. Each assigns out only on success.
void BoolFromValue(ValueResult& result, bool& out, const Value& input, std::string_view targetName);
void SignedFromValue(ValueResult& result, int64_t& out, const Value& input,
                     std::string_view targetName, std::string_view typeName, int64_t minimum,
                     int64_t maximum);
void UnsignedFromValue(ValueResult& result, uint64_t& out, const Value& input,
                       std::string_view targetName, std::string_view typeName, uint64_t maximum);
void RealFromValue(ValueResult& result, double& out, const Value& input,
                   std::string_view targetName, std::string_view typeName, double minimum,
                   double maximum);
void StringFromValue(ValueResult& result, std::string& out, const Value& input,
                     std::string_view targetName, const TypeRegistry& registry);
void EnumFromValue(ValueResult& result, int32_t& out, const Value& input,
                   std::string_view targetName, const TypeDescriptor* enumDescriptor);
void ObjectFromValue(ValueResult& result, Value& out, const Value& input);
void StructFromValue(ValueResult& result, void* nativeRecord, const Value& input,
                     std::string_view targetName, const TypeDescriptor* structDescriptor,
                     const TypeRegistry& registry, uint32_t flags);
void StructToValue(ValueResult& result, const void* nativeRecord,
                   const TypeDescriptor* structDescriptor, const TypeRegistry& registry);
// StructToValue into out, which may lie inside result's value (see
// FieldCodec::NativeToValueInto).
void StructToValueInto(ValueResult& result, Value& out, const void* nativeRecord,
                       const TypeDescriptor* structDescriptor, const TypeRegistry& registry);
// M14: the vector rule's refusal of a non-Collection input.
void ReportNotACollection(ValueResult& result, std::string_view targetName);

// The codec of a native member type T.
template <typename T>
class NativeCodec final : public FieldCodec {
 public:
  void NativeFromValue(ValueResult& result, void* destination, const Value& input,
                       std::string_view targetName, const TypeDescriptor* descriptor,
                       const TypeRegistry& registry, uint32_t flags) const override {
    if (!result.Ok()) {
      if constexpr (IsVector<T>::value) static_cast<T*>(destination)->clear();
      return;
    }
    T& out = *static_cast<T*>(destination);
    if constexpr (std::is_same_v<T, bool>) {
      BoolFromValue(result, out, input, targetName);
    } else if constexpr (std::is_enum_v<T>) {
      static_assert(sizeof(T) == sizeof(int32_t), "enumerations are 32-bit");
      int32_t number = 0;
      EnumFromValue(result, number, input, targetName, descriptor);
      if (result.Ok()) out = static_cast<T>(number);
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      int64_t number = 0;
      SignedFromValue(result, number, input, targetName, TypeCodeName(TypeCodeOf<T>()),
                      std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
      if (result.Ok()) out = static_cast<T>(number);
    } else if constexpr (std::is_integral_v<T>) {
      uint64_t number = 0;
      UnsignedFromValue(result, number, input, targetName, TypeCodeName(TypeCodeOf<T>()),
                        std::numeric_limits<T>::max());
      if (result.Ok()) out = static_cast<T>(number);
    } else if constexpr (std::is_floating_point_v<T>) {
      double number = 0;
      RealFromValue(result, number, input, targetName, TypeCodeName(TypeCodeOf<T>()),
                    -static_cast<double>(std::numeric_limits<T>::max()),
                    static_cast<double>(std::numeric_limits<T>::max()));
      if (result.Ok()) out = static_cast<T>(number);
    } else if constexpr (std::is_same_v<T, std::string>) {
      StringFromValue(result, out, input, targetName, registry);
    } else if constexpr (std::is_same_v<T, Value>) {
      ObjectFromValue(result, out, input);
    } else if constexpr (IsVector<T>::value) {
      using Element = typename IsVector<T>::Element;
      out.clear();
      if (input.Kind() != ValueKind::Collection) {
        ReportNotACollection(result, targetName);
        return;
      }
      out.resize(input.Size());
      NativeCodec<Element> element;
      for (size_t i = 0; i < out.size() && result.Ok(); ++i) {
        const Value& item = input.At(i);
        if (!item.IsEmpty()) {
          element.NativeFromValue(result, &out[i], item, targetName, descriptor, registry, flags);
        }
      }
    } else {
      static_assert(IsRegisteredStruct<T>::value, "no codec for this native type");
      StructFromValue(result, &out, input, targetName, descriptor, registry, flags);
    }
  }

  void NativeToValue(ValueResult& result, const void* source, const TypeDescriptor* descriptor,
                     const TypeRegistry& registry) const override {
    result = ValueResult();
    NativeToValueInto(result, result.value(), source, descriptor, registry);
  }

  void NativeToValueInto(ValueResult& result, Value& out, const void* source,
                         const TypeDescriptor* descriptor,
                         const TypeRegistry& registry) const override {
    const T& in = *static_cast<const T*>(source);
    if constexpr (std::is_same_v<T, bool>) {
      out.SetBool(in);
    } else if constexpr (std::is_enum_v<T>) {
      out.SetEnum(static_cast<int32_t>(in), descriptor != nullptr ? descriptor->typeId : TypeIdOf<T>());
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      out.SetSigned(in);
    } else if constexpr (std::is_integral_v<T>) {
      out.SetUnsigned(in);
    } else if constexpr (std::is_floating_point_v<T>) {
      out.SetFloat(in);
    } else if constexpr (std::is_same_v<T, std::string>) {
      out.SetString(in);
    } else if constexpr (std::is_same_v<T, Value>) {
      out.Assign(in);
    } else if constexpr (IsVector<T>::value) {
      using Element = typename IsVector<T>::Element;
      out.MakeCollection();
      out.Reserve(in.size());
      NativeCodec<Element> element;
      for (size_t i = 0; i < in.size(); ++i) {
        element.NativeToValueInto(result, out.Append(), &in[i], descriptor, registry);
        if (!result.Ok()) return;  // out is gone with the old value
      }
    } else {
      static_assert(IsRegisteredStruct<T>::value, "no codec for this native type");
      StructToValueInto(result, out, &in, descriptor, registry);
    }
  }
};

template <typename T>
std::unique_ptr<FieldCodec> MakeCodec() {
  return std::make_unique<NativeCodec<T>>();
}

// The byte offset of a data member, without constructing a record.
template <typename Record, typename Member>
size_t OffsetOf(Member Record::*member) {
  alignas(Record) static unsigned char storage[sizeof(Record)];
  const auto* record = reinterpret_cast<const Record*>(storage);
  return static_cast<size_t>(reinterpret_cast<const unsigned char*>(&(record->*member)) - storage);
}

// Registers one data member as a field: its name, description, offset, TypeId,
// TypeRef (nested descriptors must be registered first), flags and codec.
template <typename Record, typename Member>
void AddMember(TypeBuilder& builder, const TypeRegistry& registry, std::string name,
               Member Record::*member, std::string description = {}, uint32_t flags = 0) {
  builder.AddField(std::move(name), std::move(description), OffsetOf(member), TypeIdOf<Member>(),
                   TypeRefOf<Member>(registry), flags, MakeCodec<Member>(), false);
}

// Whole-record conversions for a registered struct type T.
template <typename T>
void ToNative(ValueResult& result, T& record, const Value& input, std::string_view targetName,
              const TypeRegistry& registry) {
  registry.NativeFromValue(result, &record, input, targetName, registry.FindType(TypeIdOf<T>()));
}

template <typename T>
ValueResult FromNative(const T& record, const TypeRegistry& registry) {
  ValueResult result;
  registry.NativeToValue(result, &record, registry.FindType(TypeIdOf<T>()));
  return result;
}

}  // namespace qmx
