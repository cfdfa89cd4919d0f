#include "interface/host_value.h"

#include <cstring>
#include <exception>
#include <string>

#include "binding/type_registry.h"
#include "interface/counted_allocator.h"
#include "messages/message_format.h"

namespace qmx {
namespace {

// The names messages give to the kinds of a host record; kinds outside 1..10
// have the empty name.
const char* HostKindName(uint32_t kind) {
  static const char* const kNames[] = {"",       "bool",   "signed", "unsigned",   "float",    "string",
                                       "string", "blob",   "blob",   "collection", "structure"};
  return kind <= 10 ? kNames[kind] : "";
}

std::string IncompatibleMessage(std::string_view valueName, uint32_t kind) {
  std::string name(valueName);
  return FormatMessage(
      "Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.",
      name, HostKindName(kind));
}

bool Convert(const HostValue& record, std::string_view valueName, Value& out, unsigned depth,
             ValueResult& result) {
  const auto& buffer = record.payload.buffer;
  switch (record.kind) {
    case HostValueEmpty:
      out.Reset();
      return true;
    case HostValueBool:
      out.SetBool(record.payload.boolean != 0);
      return true;
    case HostValueSigned:
      out.SetSigned(record.payload.signedValue);
      return true;
    case HostValueUnsigned:
      out.SetUnsigned(record.payload.unsignedValue);
      return true;
    case HostValueFloat:
      out.SetFloat(record.payload.floatValue);
      return true;
    case HostValueStringRef:
    case HostValueString:
      out.SetString(buffer.data == nullptr ? "" : static_cast<const char*>(buffer.data));
      return true;
    case HostValueBlobRef:
    case HostValueBlob:
      if (buffer.data == nullptr && buffer.length != 0) break;
      out.SetBlob(buffer.data, buffer.length);
      return true;
    case HostValueCollection: {
      if (buffer.data == nullptr && buffer.length != 0) break;
      if (depth >= kMaxNestingDepth) break;
      out.MakeCollection();
      out.Reserve(buffer.length);
      const auto* elements = static_cast<const HostValue*>(buffer.data);
      for (uint32_t i = 0; i < buffer.length; ++i) {
        if (!Convert(elements[i], valueName, out.Append(), depth + 1, result)) return false;
      }
      return true;
    }
    case HostValueStructure: {
      if (buffer.data == nullptr && buffer.length != 0) break;
      if (depth >= kMaxNestingDepth) break;
      out.MakeStructure();
      const auto* members = static_cast<const HostMember*>(buffer.data);
      for (uint32_t i = 0; i < buffer.length; ++i) {
        const HostMember& member = members[i];
        std::string_view name = member.name == nullptr ? std::string_view() : member.name;
        if (!Convert(member.value, valueName, out.Member(name), depth + 1, result)) return false;
      }
      return true;
    }
    default:
      break;
  }
  result.SetError(IncompatibleMessage(valueName, record.kind));
  return false;
}

class HostValueBuilder {
 public:
  explicit HostValueBuilder(const TypeRegistry* registry) : registry_(registry) {}

  void Build(const Value& value, HostValue& target) {
    switch (value.Kind()) {
      case ValueKind::Empty:
        break;
      case ValueKind::Bool:
        target.kind = HostValueBool;
        target.payload.boolean = value.GetBool() ? 1 : 0;
        break;
      case ValueKind::Signed:
        target.kind = HostValueSigned;
        target.payload.signedValue = value.GetSigned();
        break;
      case ValueKind::Unsigned:
        target.kind = HostValueUnsigned;
        target.payload.unsignedValue = value.GetUnsigned();
        break;
      case ValueKind::Float:
        target.kind = HostValueFloat;
        target.payload.floatValue = value.GetFloat();
        break;
      case ValueKind::String:
        SetText(target, value.GetString());
        break;
      case ValueKind::Blob: {
        auto bytes = value.GetBlob();
        target.kind = HostValueBlob;
        target.payload.buffer.data = CountedCopy(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        target.payload.buffer.length = static_cast<uint32_t>(bytes.size());
        break;
      }
      case ValueKind::Enum: {
        EnumRecord record = value.GetEnum();
        std::string name = EnumeratorName(record);
        if (!name.empty()) {
          SetText(target, name);
        } else {
          target.kind = HostValueSigned;
          target.payload.signedValue = record.number;
        }
        break;
      }
      case ValueKind::Collection: {
        auto count = static_cast<uint32_t>(value.Size());
        auto* elements = static_cast<HostValue*>(ZeroedArray(count, sizeof(HostValue)));
        target.kind = HostValueCollection;
        target.payload.buffer.data = elements;
        target.payload.buffer.length = count;
        for (uint32_t i = 0; i < count; ++i) Build(value.At(i), elements[i]);
        break;
      }
      case ValueKind::Structure: {
        auto count = static_cast<uint32_t>(value.Size());
        auto* members = static_cast<HostMember*>(ZeroedArray(count, sizeof(HostMember)));
        target.kind = HostValueStructure;
        target.payload.buffer.data = members;
        target.payload.buffer.length = count;
        for (uint32_t i = 0; i < count; ++i) {
          std::string_view name = value.MemberName(i);
          members[i].name = CountedCopy(name.data(), name.size());
          members[i].nameOwned = 1;
          Build(value.MemberValue(i), members[i].value);
        }
        break;
      }
    }
  }

 private:
  static void SetText(HostValue& target, std::string_view text) {
    target.kind = HostValueString;
    target.payload.buffer.data = CountedCopy(text.data(), text.size());
    target.payload.buffer.length = static_cast<uint32_t>(text.size());
  }

  static void* ZeroedArray(uint32_t count, size_t stride) {
    if (count == 0) return nullptr;
    void* block = CountedAllocate(count * stride);
    if (block == nullptr) throw std::bad_alloc();
    std::memset(block, 0, count * stride);
    return block;
  }

  std::string EnumeratorName(const EnumRecord& record) const {
    if (registry_ == nullptr) return std::string();
    return registry_->FindEnumeratorName(TypeId(record.type), record.number).value_or(std::string());
  }

  const TypeRegistry* registry_;
};

}  // namespace

ValueResult ToValue(const HostValue& record, std::string_view valueName) {
  ValueResult result;
  try {
    Value converted;
    if (Convert(record, valueName, converted, 0, result)) result.value().Swap(converted);
  } catch (const std::exception& error) {
    result.SetError(error.what());
  }
  return result;
}

bool FromValue(const Value& value, HostValue& target, const TypeRegistry* registry) {
  Release(target);
  try {
    HostValueBuilder(registry).Build(value, target);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void Release(HostValue& record) {
  auto& buffer = record.payload.buffer;
  switch (record.kind) {
    case HostValueString:
    case HostValueBlob:
      CountedFree(buffer.data);
      break;
    case HostValueCollection: {
      auto* elements = static_cast<HostValue*>(buffer.data);
      for (uint32_t i = 0; elements != nullptr && i < buffer.length; ++i) Release(elements[i]);
      CountedFree(elements);
      break;
    }
    case HostValueStructure: {
      auto* members = static_cast<HostMember*>(buffer.data);
      for (uint32_t i = 0; members != nullptr && i < buffer.length; ++i) {
        if (members[i].nameOwned) CountedFree(const_cast<char*>(members[i].name));
        Release(members[i].value);
      }
      CountedFree(members);
      break;
    }
    default:
      break;
  }
  std::memset(static_cast<void*>(&record), 0, sizeof record);
}

void ReleaseResponse(HostResponse* response) {
  if (response == nullptr) return;
  Release(response->body);
  if (response->errorOwned) CountedFree(const_cast<char*>(response->error));
  response->error = nullptr;
  response->errorOwned = 0;
  if (response->contentType != nullptr && response->contentType[0] != '\0') {
    CountedFree(const_cast<char*>(response->contentType));
  }
  response->contentType = nullptr;
  for (uint32_t i = 0; response->headers != nullptr && i < response->headerCount; ++i) {
    CountedFree(const_cast<char*>(response->headers[i].name));
    CountedFree(const_cast<char*>(response->headers[i].value));
  }
  CountedFree(response->headers);
  response->headers = nullptr;
  response->headerCount = 0;
}

void SetResponseError(HostResponse& response, std::string_view message) {
  if (response.errorOwned) CountedFree(const_cast<char*>(response.error));
  response.error = CountedCopy(message.data(), message.size());
  response.errorOwned = 1;
}

}  // namespace qmx
