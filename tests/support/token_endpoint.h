// GET "/entitlements/v1/token" the way a host reaches it: the plugin's
// descriptor entry, found by its function name, called with a bare request
// and its response released. Header-only and free of GoogleTest, so that the
// benchmarks use the same call as the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "interface/api_descriptor.h"
#include "interface/host_api.h"

namespace qmx::test {

inline constexpr char kTokenFunctionName[] = "GetEntitlementsV1Token";

// The descriptor's entry of the token endpoint, or null.
inline const ApiFunctionEntry* FindTokenEntry(const ApiDescriptor* descriptor) {
  if (descriptor == nullptr) return nullptr;
  const auto* functions = static_cast<const ApiFunctionEntry*>(descriptor->functions);
  for (uint32_t i = 0; i < descriptor->functionCount; ++i) {
    if (std::strcmp(functions[i].name, kTokenFunctionName) == 0) return &functions[i];
  }
  return nullptr;
}

// What one call answered, copied out before the response was released.
struct TokenCall {
  uint32_t status = 0;
  bool structureBody = false;  // the body is a Structure (the token record)
  bool failed = false;         // the response carried an error text
  std::string error;
};

inline TokenCall CallTokenEntry(const ApiFunctionEntry* entry) {
  HostRequest request{};
  request.method = HostMethodGet;
  request.target = "/entitlements/v1/token";
  request.functionContext = entry->context;
  HostResponse response{};
  entry->entry(&response, &request);
  TokenCall call;
  call.status = response.status;
  call.structureBody = response.body.kind == HostValueStructure;
  call.failed = response.error != nullptr;
  if (call.failed) call.error = response.error;
  if (response.release != nullptr) response.release(&response);
  return call;
}

}  // namespace qmx::test
