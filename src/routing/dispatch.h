// Function dispatch: binds a host request to a registered function's
// arguments, calls it and writes the result into the host's response.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "binding/type_id.h"
#include "binding/type_registry.h"
#include "binding/value.h"
#include "interface/host_api.h"
#include "routing/http.h"
#include "routing/route.h"

namespace qmx {

// What a function that declares a request context receives about the call
// that runs it. Built for that call only; valid while the function runs.
struct RequestInfo {
  uint32_t requestId = 0;
  uint64_t tickTime = 0;  // milliseconds of the monotonic clock when the call began
  const TypeRegistry* registry = nullptr;
  std::string target;  // as received, query included
  HttpMethod method = HttpMethod::kNone;
  std::string callName;
  std::vector<std::pair<std::string, std::string>> headers;  // in request order
};

// The runtime's two request-context types. A function whose callable
// declares one of them as its context type is handed a RequestInfo.
inline constexpr TypeId kRequestContextType{0x466F9860};
inline constexpr TypeId kRequestContextTypeAlternate{0x89462EBF};
bool IsRequestContextType(TypeId type);

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
  // Set while a function that declares a request context runs; null otherwise.
  const RequestInfo* requestInfo = nullptr;
};

// The callable behind a FunctionDescriptor: converts the bound argument
// values to native parameters, runs the handler and stores its result (or
// failure) in the context.
class EndpointCallable {
 public:
  virtual void Invoke(CallContext& context, std::span<Value> arguments) const = 0;
  // The type of the context the function takes; a request-context type
  // makes the dispatcher build a RequestInfo for each call. None by default.
  virtual TypeId ContextType() const { return TypeId(); }
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
