// Builds the arrays of an ApiDescriptor from a type registry and keeps them,
// with every text they point at, for as long as the builder lives.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/type_registry.h"
#include "interface/api_descriptor.h"
#include "interface/host_api.h"
#include "routing/route.h"

namespace qmx {

class ApiDescriptorStorage {
 public:
  // Fills descriptor with the registry's listed functions, types and events.
  // The registry must outlive the storage.
  void Build(const TypeRegistry& registry, ApiDescriptor& descriptor);

  // The entry point of every function entry: dispatches request to the
  // function named by its functionContext.
  static void FunctionEntry(HostResponse* response, HostRequest* request);

 private:
  // What an entry's context pointer addresses.
  struct EntryContext {
    const TypeRegistry* registry = nullptr;
    std::vector<Route> routes;  // the function's own route
  };

  const char* Text(std::string_view text);
  // The records are packed, so counts are assigned by the caller, never bound
  // by reference.
  const char* const* Tags(const std::vector<std::string>& tags);
  ApiTypeRef Ref(const TypeRef& type);

  std::deque<std::string> texts_;
  std::deque<std::vector<const char*>> tagLists_;
  std::deque<std::vector<ApiArgumentEntry>> argumentLists_;
  std::deque<std::vector<ApiFieldEntry>> fieldLists_;
  std::deque<std::vector<ApiEnumeratorEntry>> enumeratorLists_;
  std::deque<EntryContext> contexts_;
  std::vector<ApiFunctionEntry> functions_;
  std::vector<ApiTypeEntry> types_;
  std::vector<ApiEventEntry> events_;
};

}  // namespace qmx
