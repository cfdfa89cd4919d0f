#include "plugin/api_descriptor_builder.h"

#include <cstring>
#include <exception>

#include "interface/host_value.h"
#include "routing/dispatch.h"
#include "routing/http.h"

namespace qmx {

const char* ApiDescriptorStorage::Text(std::string_view text) {
  if (text.empty()) return "";
  return texts_.emplace_back(text).c_str();
}

const char* const* ApiDescriptorStorage::Tags(const std::vector<std::string>& tags) {
  if (tags.empty()) return nullptr;
  std::vector<const char*>& list = tagLists_.emplace_back();
  for (const std::string& tag : tags) list.push_back(Text(tag));
  return list.data();
}

ApiTypeRef ApiDescriptorStorage::Ref(const TypeRef& type) {
  ApiTypeRef ref{};
  ref.code = static_cast<uint8_t>(type.code);
  ref.elementCode = static_cast<uint8_t>(type.elementCode);
  ref.typeName = type.descriptor != nullptr ? Text(type.descriptor->name) : "";
  return ref;
}

void ApiDescriptorStorage::Build(const TypeRegistry& registry, ApiDescriptor& descriptor) {
  descriptor = ApiDescriptor{};
  for (const FunctionDescriptor* function : registry.Functions()) {
    EntryContext& context = contexts_.emplace_back();
    context.registry = &registry;
    context.routes.push_back(MakeRoute(function->name, function->path,
                                       HttpMethodFromHost(static_cast<int32_t>(function->method)),
                                       function->callName, function));
    std::vector<ApiArgumentEntry>& arguments = argumentLists_.emplace_back();
    for (const ArgumentDescriptor& argument : function->arguments) {
      ApiArgumentEntry entry{};
      entry.name = Text(argument.name);
      entry.description = Text(argument.description);
      entry.type = Ref(argument.type);
      entry.optional = argument.optional ? 1 : 0;
      entry.location = argument.location;
      arguments.push_back(entry);
    }
    ApiFunctionEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.entrySize = sizeof(ApiFunctionEntry);
    entry.method = function->method;
    entry.context = &context;
    entry.name = Text(function->name);
    entry.path = Text(function->path);
    entry.callName = Text(function->callName);
    entry.nameSpace = Text(function->nameSpace);
    entry.description = Text(function->description);
    entry.help = Text(function->help);
    entry.tags = Tags(function->tags);
    entry.tagCount = static_cast<uint32_t>(function->tags.size());
    entry.arguments = arguments.empty() ? nullptr : arguments.data();
    entry.argumentCount = static_cast<uint32_t>(arguments.size());
    entry.returns = Ref(function->returns);
    entry.threadSafe = function->threadSafe ? 1 : 0;
    entry.async = function->async ? 1 : 0;
    entry.entry = &ApiDescriptorStorage::FunctionEntry;
    functions_.push_back(entry);
  }
  for (const TypeDescriptor* type : registry.Types()) {
    ApiTypeEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.name = Text(type->name);
    entry.nameSpace = Text(type->nameSpace);
    entry.description = Text(type->description);
    entry.typeId = type->typeId.value;
    entry.size = static_cast<uint32_t>(type->size);
    entry.isEnum = type->isEnum ? 1 : 0;
    entry.tags = Tags(type->tags);
    entry.tagCount = static_cast<uint32_t>(type->tags.size());
    if (!type->fields.empty()) {
      std::vector<ApiFieldEntry>& fields = fieldLists_.emplace_back();
      for (const FieldDescriptor& field : type->fields) {
        ApiFieldEntry item{};
        item.name = Text(field.name);
        item.description = Text(field.description);
        item.type = Ref(field.type);
        item.offset = static_cast<uint32_t>(field.offset);
        item.flags = field.flags;
        item.optional = field.optional ? 1 : 0;
        fields.push_back(item);
      }
      entry.fields = fields.data();
      entry.fieldCount = static_cast<uint32_t>(fields.size());
    }
    if (!type->enumerators.empty()) {
      std::vector<ApiEnumeratorEntry>& enumerators = enumeratorLists_.emplace_back();
      for (const auto& [name, enumerator] : type->enumerators) {
        enumerators.push_back(
            ApiEnumeratorEntry{Text(name), Text(enumerator.description), enumerator.number});
      }
      entry.enumerators = enumerators.data();
      entry.enumeratorCount = static_cast<uint32_t>(enumerators.size());
    }
    types_.push_back(entry);
  }
  for (const EventDescriptor* event : registry.Events()) {
    ApiEventEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.name = Text(event->name);
    entry.payloadType = event->type != nullptr ? Text(event->type->name) : "";
    entry.nameSpace = Text(event->nameSpace);
    entry.description = Text(event->description);
    entry.tags = Tags(event->tags);
    entry.tagCount = static_cast<uint32_t>(event->tags.size());
    events_.push_back(entry);
  }
  descriptor.functions = functions_.empty() ? nullptr : functions_.data();
  descriptor.functionCount = static_cast<uint32_t>(functions_.size());
  descriptor.types = types_.empty() ? nullptr : types_.data();
  descriptor.typeCount = static_cast<uint32_t>(types_.size());
  descriptor.events = events_.empty() ? nullptr : events_.data();
  descriptor.eventCount = static_cast<uint32_t>(events_.size());
}

void ApiDescriptorStorage::FunctionEntry(HostResponse* response, HostRequest* request) {
  try {
    const auto* context =
        request != nullptr ? static_cast<const EntryContext*>(request->functionContext) : nullptr;
    // Without a context nothing routes, which answers "Invalid function".
    if (context == nullptr) {
      Dispatch(nullptr, {}, response, request);
    } else {
      Dispatch(context->registry, context->routes, response, request);
    }
  } catch (...) {
    // Dispatch catches its own failures; this guards the boundary only.
  }
}

}  // namespace qmx
