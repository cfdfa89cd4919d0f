// Function dispatch: binds a host request to a registered function's
// arguments, calls it and writes the result into the host's response.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "binding/value.h"
#include "plugin/host_api.h"
#include "routing/route.h"

namespace qmx {

// One invocation's result and the response parts the function may set.
struct CallContext {
  ValueResult result;
  uint32_t status = 0;
  std::string contentType;
  std::map<std::string, std::string> responseHeaders;
  uint8_t flags = 0;
  uint32_t kind = 0;  // passed on when 1, 2 or 3
  // A streamed body: handed to the response, which then owns it.
  HostStreamReadFn streamRead = nullptr;
  HostStreamReleaseFn streamRelease = nullptr;
  void* streamContext = nullptr;
  uint64_t totalLength = 0;
  const TypeRegistry* registry = nullptr;
  uint32_t requestId = 0;
};

// The callable behind a FunctionDescriptor: converts the bound argument
// values to native parameters, runs the handler and stores its result (or
// failure) in the context.
class EndpointCallable {
 public:
  virtual void Invoke(CallContext& context, std::vector<Value>& arguments) const = 0;
  virtual ~EndpointCallable() = default;
};

// The context of the call running on this thread, for handlers that set a
// status, content type, headers or a streamed body; null outside a call.
CallContext* CurrentCallContext();

// Binds request to function (path parameters already captured), calls it
// and leaves the outcome in context. Never throws for bad input.
void BindAndCall(CallContext& context, const FunctionDescriptor& function,
                 const ParameterMap& pathParameters, const HostRequest& request);

// Installs the response release function, routes request through table
// (404 "Invalid function" when nothing matches), binds, calls and fills
// response. Nothing escapes: failures become the response's error text.
void Dispatch(const TypeRegistry* registry, std::span<const Route> table, HostResponse* response,
              const HostRequest* request);

}  // namespace qmx
