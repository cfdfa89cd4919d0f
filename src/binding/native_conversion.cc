// Conversion between Values and native types: one reader and one writer per
// native kind, with the range and kind messages they share. The file is
// longer than most because the kinds are listed side by side, so that a rule
// for one kind (what is accepted, what is refused and with which message) can
// be read against the others.
#include "binding/native_conversion.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "messages/message_format.h"

namespace qmx {
namespace {

std::string Decimal(int64_t v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%" PRId64, v);
  return buffer;
}

std::string Decimal(uint64_t v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%" PRIu64, v);
  return buffer;
}

std::string Real(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

// The number of a value as the range messages print it.
std::string NumberText(const Value& input) {
  switch (input.Kind()) {
    case ValueKind::Signed:
      return Decimal(input.GetSigned());
    case ValueKind::Unsigned:
      return Decimal(input.GetUnsigned());
    case ValueKind::Float:
      return Real(input.GetFloat());
    case ValueKind::Enum:
      return Decimal(int64_t{input.GetEnum().number});
    default:
      return input.ToString();
  }
}

void Required(ValueResult& result, std::string_view targetName) {
  result.SetError(FormatMessageTexts("A value for '%1' is required.", {targetName}));
}

void OutOfRange(ValueResult& result, std::string_view number, std::string_view targetName,
                std::string_view typeName) {
  result.SetError(FormatMessageTexts("Value %1 for '%2' of type %3 is out of range", {number, targetName, typeName}));
}

void BadFormat(ValueResult& result, std::string_view text, std::string_view targetName,
               std::string_view typeName) {
  result.SetError(
      FormatMessageTexts("Value %1 for '%2' of type %3 is in an incorrect format", {text, targetName, typeName}));
}

void InvalidType(ValueResult& result, std::string_view targetName, std::string_view typeName,
                 const Value& input) {
  result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
                          {targetName, typeName, KindName(input.Kind())}));
}

// Leading white space as strtoll and strtoull skip it.
bool StartsWithMinus(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  return i < text.size() && text[i] == '-';
}

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

}  // namespace

void BoolFromValue(ValueResult& result, bool& out, const Value& input, std::string_view targetName) {
  if (!result.Ok()) return;
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::Bool:
      out = input.GetBool();
      return;
    case ValueKind::String: {
      std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        out = true;
      } else if (text == "0" || text == "false") {
        out = false;
      } else {
        result.SetError(FormatMessageTexts(
            "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".",
            {text, targetName}));
      }
      return;
    }
    default:
      result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
                              {targetName, KindName(input.Kind())}));
  }
}

void SignedFromValue(ValueResult& result, int64_t& out, const Value& input,
                     std::string_view targetName, std::string_view typeName, int64_t minimum,
                     int64_t maximum) {
  if (!result.Ok()) return;
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::Signed:
    case ValueKind::Enum: {
      int64_t v = input.Kind() == ValueKind::Signed ? input.GetSigned() : input.GetEnum().number;
      if (v < minimum || v > maximum) return OutOfRange(result, NumberText(input), targetName, typeName);
      out = v;
      return;
    }
    case ValueKind::Unsigned: {
      uint64_t v = input.GetUnsigned();
      if (maximum < 0 || v > static_cast<uint64_t>(maximum)) {
        return OutOfRange(result, NumberText(input), targetName, typeName);
      }
      out = static_cast<int64_t>(v);
      return;
    }
    case ValueKind::Float: {
      double v = input.GetFloat();
      // NaN and values at 2^63 or above have no integer form: out of range,
      // rather than an undefined conversion.
      if (std::isnan(v) || v < static_cast<double>(minimum) || v > static_cast<double>(maximum) ||
          v >= kTwoTo63) {
        return OutOfRange(result, NumberText(input), targetName, typeName);
      }
      out = static_cast<int64_t>(v);
      return;
    }
    case ValueKind::String: {
      std::string text(input.GetString());
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(text.c_str(), &end, 0);
      if (end != text.c_str() + text.size()) return BadFormat(result, text, targetName, typeName);
      if (errno == ERANGE || v < minimum || v > maximum) return OutOfRange(result, text, targetName, typeName);
      out = v;
      return;
    }
    default:
      InvalidType(result, targetName, typeName, input);
  }
}

void UnsignedFromValue(ValueResult& result, uint64_t& out, const Value& input,
                       std::string_view targetName, std::string_view typeName, uint64_t maximum) {
  if (!result.Ok()) return;
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::Signed:
    case ValueKind::Enum: {
      int64_t v = input.Kind() == ValueKind::Signed ? input.GetSigned() : input.GetEnum().number;
      if (v < 0 || static_cast<uint64_t>(v) > maximum) {
        return OutOfRange(result, NumberText(input), targetName, typeName);
      }
      out = static_cast<uint64_t>(v);
      return;
    }
    case ValueKind::Unsigned: {
      uint64_t v = input.GetUnsigned();
      if (v > maximum) return OutOfRange(result, NumberText(input), targetName, typeName);
      out = v;
      return;
    }
    case ValueKind::Float: {
      double v = input.GetFloat();
      if (std::isnan(v) || v < 0 || v > static_cast<double>(maximum) || v >= kTwoTo64) {
        return OutOfRange(result, NumberText(input), targetName, typeName);
      }
      out = static_cast<uint64_t>(v);
      return;
    }
    case ValueKind::String: {
      std::string text(input.GetString());
      errno = 0;
      char* end = nullptr;
      unsigned long long v = std::strtoull(text.c_str(), &end, 0);
      if (end != text.c_str() + text.size()) return BadFormat(result, text, targetName, typeName);
      // strtoull accepts a sign after leading white space and wraps negatives
      // around: a minus sign anywhere before the digits is out of range.
      if (errno == ERANGE || v > maximum || StartsWithMinus(text)) {
        return OutOfRange(result, text, targetName, typeName);
      }
      out = v;
      return;
    }
    default:
      InvalidType(result, targetName, typeName, input);
  }
}

void RealFromValue(ValueResult& result, double& out, const Value& input,
                   std::string_view targetName, std::string_view typeName, double minimum,
                   double maximum) {
  if (!result.Ok()) return;
  auto checkInteger = [&](double v, bool below, bool above) {
    if (below || above) return OutOfRange(result, NumberText(input), targetName, typeName);
    out = v;
  };
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::Signed:
    case ValueKind::Enum: {
      int64_t v = input.Kind() == ValueKind::Signed ? input.GetSigned() : input.GetEnum().number;
      bool below = minimum >= -kTwoTo63 && v < static_cast<int64_t>(std::trunc(minimum));
      bool above = maximum < kTwoTo63 && v > static_cast<int64_t>(std::trunc(maximum));
      return checkInteger(static_cast<double>(v), below, above);
    }
    case ValueKind::Unsigned: {
      uint64_t v = input.GetUnsigned();
      bool above = maximum < kTwoTo64 && (maximum < 0 || v > static_cast<uint64_t>(std::trunc(maximum)));
      return checkInteger(static_cast<double>(v), false, above);
    }
    case ValueKind::Float: {
      double v = input.GetFloat();
      if (v < minimum || v > maximum) return OutOfRange(result, NumberText(input), targetName, typeName);
      out = v;
      return;
    }
    case ValueKind::String: {
      std::string text(input.GetString());
      errno = 0;
      char* end = nullptr;
      double v = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size()) return BadFormat(result, text, targetName, typeName);
      if (errno == ERANGE || v < minimum || v > maximum) return OutOfRange(result, text, targetName, typeName);
      out = v;
      return;
    }
    default:
      InvalidType(result, targetName, typeName, input);
  }
}

void StringFromValue(ValueResult& result, std::string& out, const Value& input,
                     std::string_view targetName, const TypeRegistry& registry) {
  if (!result.Ok()) return;
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::String:
      out = input.GetString();
      return;
    case ValueKind::Enum: {
      EnumRecord record = input.GetEnum();
      if (auto name = registry.FindEnumeratorName(TypeId(record.type), record.number)) {
        out = *name;
      } else {
        result.SetError(FormatMessageTexts("%1 is not a valid enumeration value for '%2'.",
                                {Decimal(int64_t{record.number}), targetName}));
      }
      return;
    }
    default:
      result.SetError(FormatMessageTexts("Couldn't assign value to '%1' because the input is not a string.", {targetName}));
  }
}

void EnumFromValue(ValueResult& result, int32_t& out, const Value& input,
                   std::string_view targetName, const TypeDescriptor* enumDescriptor) {
  if (!result.Ok()) return;
  std::string_view enumName = enumDescriptor != nullptr ? std::string_view(enumDescriptor->name) : "";
  auto accept = [&](int64_t number, std::string_view shown) {
    if (enumDescriptor != nullptr && number >= INT32_MIN && number <= INT32_MAX &&
        TypeRegistry::IsEnumerator(*enumDescriptor, static_cast<int32_t>(number))) {
      out = static_cast<int32_t>(number);
    } else {
      result.SetError(FormatMessageTexts("%1 is not a valid %2 enumeration value for '%3'.", {shown, enumName, targetName}));
    }
  };
  switch (input.Kind()) {
    case ValueKind::Empty:
      Required(result, targetName);
      return;
    case ValueKind::Signed:
      return accept(input.GetSigned(), NumberText(input));
    case ValueKind::Unsigned:
      return accept(input.GetUnsigned() > INT64_MAX ? INT64_MAX : static_cast<int64_t>(input.GetUnsigned()),
                    NumberText(input));
    case ValueKind::Enum:
      return accept(input.GetEnum().number, NumberText(input));
    case ValueKind::String: {
      std::string_view text = input.GetString();
      if (enumDescriptor != nullptr) {
        auto found = enumDescriptor->enumerators.find(std::string(text));
        if (found != enumDescriptor->enumerators.end()) {
          out = found->second.number;
          return;
        }
      }
      ValueResult parse;
      int64_t number = 0;
      SignedFromValue(parse, number, input, targetName, enumName, INT32_MIN, INT32_MAX);
      if (parse.Ok()) return accept(number, text);
      result.SetError(FormatMessageTexts("%1 is not a valid %2 enumeration value for '%3'.", {text, enumName, targetName}));
      return;
    }
    default:
      result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
                              {targetName, KindName(input.Kind())}));
  }
}

void ObjectFromValue(ValueResult& result, Value& out, const Value& input) {
  out.Reset();
  if (result.Ok()) out.Assign(input);
}

void ReportNotACollection(ValueResult& result, std::string_view targetName) {
  result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of type vector because the input not a collection.",
                          {targetName}));
}

void StructFromValue(ValueResult& result, void* nativeRecord, const Value& input,
                     std::string_view targetName, const TypeDescriptor* structDescriptor,
                     const TypeRegistry& registry, uint32_t flags) {
  if (!result.Ok()) return;
  if (input.IsEmpty()) return Required(result, targetName);
  if (structDescriptor == nullptr) {
    result.SetError(FormatMessageTexts("Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.",
                            {targetName}));
    return;
  }
  if (input.Kind() != ValueKind::Structure) {
    result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of type %2 because the input not a structure.",
                            {targetName, structDescriptor->name}));
    return;
  }
  auto* base = static_cast<unsigned char*>(nativeRecord);
  for (const FieldDescriptor& field : structDescriptor->fields) {
    if (!result.Ok()) return;
    const Value& member = input.FindMember(field.name, field.nameHash);
    if (!member.IsEmpty()) {
      field.codec->NativeFromValue(result, base + field.offset, member, field.name,
                                   field.type.descriptor, registry, flags);
    } else if (field.flags & kRequired) {
      result.SetError(FormatMessageTexts("Couldn't assign value to '%1' of type %2 because the input structure doesn't have required field '%3'.",
                              {targetName, structDescriptor->name, field.name}));
    }
  }
}

namespace {

bool IsEmptyForOmission(const Value& v) {
  switch (v.Kind()) {
    case ValueKind::Empty:
      return true;
    case ValueKind::Bool:
      return !v.GetBool();
    case ValueKind::Signed:
      return v.GetSigned() == 0;
    case ValueKind::Unsigned:
      return v.GetUnsigned() == 0;
    case ValueKind::Float:
      return v.GetFloat() == 0.0;
    case ValueKind::Enum:
      return v.GetEnum().number == 0;
    default:
      return v.Size() == 0;
  }
}

}  // namespace

void StructToValue(ValueResult& result, const void* nativeRecord,
                   const TypeDescriptor* structDescriptor, const TypeRegistry& registry) {
  if (structDescriptor == nullptr) {
    result.SetError("Couldn't convert native value because it's an unregistered structure.");
    return;
  }
  result.value().Reset();
  StructToValueInto(result, result.value(), nativeRecord, structDescriptor, registry);
}

void StructToValueInto(ValueResult& result, Value& out, const void* nativeRecord,
                       const TypeDescriptor* structDescriptor, const TypeRegistry& registry) {
  if (structDescriptor == nullptr) {
    result.SetError("Couldn't convert native value because it's an unregistered structure.");
    return;
  }
  out.MakeStructure();
  const std::vector<FieldDescriptor>& fields = structDescriptor->fields;
  const auto* base = static_cast<const unsigned char*>(nativeRecord);
  if (out.Size() == 0 && !fields.empty() && structDescriptor->fieldsByName.size() == fields.size()) {
    // A fresh value of a record whose field names are unique: every member is
    // placed at once, in member order, so no member is looked up or moved.
    // The fields are then converted in their own order, as below, so that the
    // first failure is the same.
    out.ReserveMembers(fields.size());
    for (uint32_t index : structDescriptor->fieldsByName) {
      out.AppendMember(fields[index].name, fields[index].nameHash);
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      const FieldDescriptor& field = fields[i];
      field.codec->NativeToValueInto(result, out.MemberValue(structDescriptor->memberPositions[i]),
                                     base + field.offset, field.type.descriptor, registry);
      if (!result.Ok()) return;  // out is gone with the old value
    }
    for (size_t position = fields.size(); position-- > 0;) {
      const FieldDescriptor& field = fields[structDescriptor->fieldsByName[position]];
      if ((field.flags & kOmitIfEmpty) && IsEmptyForOmission(out.MemberValue(position))) {
        out.RemoveMember(field.name);
      }
    }
    return;
  }
  out.ReserveMembers(out.Size() + fields.size());
  for (const FieldDescriptor& field : fields) {
    // One lookup finds the member or makes it: a new one is Empty, and the
    // map grows by one.
    size_t size = out.Size();
    Value& slot = out.Member(field.name, field.nameHash);
    if (out.Size() == size) {
      // A second field of the same name replaces the first one, unless it is
      // omitted: convert it apart so that an omitted one leaves the first.
      ValueResult member;
      field.codec->NativeToValue(member, base + field.offset, field.type.descriptor, registry);
      if (!member.Ok()) {
        result.SetError(member.ErrorText());
        return;
      }
      if ((field.flags & kOmitIfEmpty) && IsEmptyForOmission(member.value())) continue;
      slot.Swap(member.value());
      continue;
    }
    field.codec->NativeToValueInto(result, slot, base + field.offset, field.type.descriptor, registry);
    if (!result.Ok()) return;  // out is gone with the old value
    if ((field.flags & kOmitIfEmpty) && IsEmptyForOmission(slot)) out.RemoveMember(field.name);
  }
}

void FieldCodec::NativeToValueInto(ValueResult& result, Value& out, const void* source,
                                   const TypeDescriptor* descriptor,
                                   const TypeRegistry& registry) const {
  ValueResult converted;
  NativeToValue(converted, source, descriptor, registry);
  if (!converted.Ok()) {
    result.SetError(converted.ErrorText());
    return;
  }
  out.Swap(converted.value());
}

}  // namespace qmx
