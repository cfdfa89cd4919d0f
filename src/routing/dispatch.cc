#include "routing/dispatch.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <string_view>

#include "interface/counted_allocator.h"
#include "interface/host_value.h"
#include "messages/message_format.h"
#include "routing/arguments.h"
#include "routing/http.h"
#include "serialization/body_formats.h"

namespace qmx {
namespace {

std::string_view TextOf(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void ReadBody(ValueResult& result, Value& out, const HostRequest& request) {
  const BodyFormat* format = FindBodyFormatByContentType(TextOf(request.contentType));
  if (format == nullptr) {
    result.SetError("Unsupported body content type");
    return;
  }
  ValueResult read = format->readBody(
      std::string_view(reinterpret_cast<const char*>(request.body), request.bodyLength));
  if (!read.Ok()) {
    result.SetError(read.ErrorText());
    return;
  }
  out.Swap(read.value());
}

void BindHostArguments(CallContext& context, std::span<Value> values,
                       const FunctionDescriptor& function, size_t pathParameterCount,
                       const HostRequest& request) {
  if (request.arguments == nullptr) return;
  for (uint32_t i = 0; i < request.argumentCount && context.result.Ok(); ++i) {
    const HostArgument& entry = request.arguments[i];
    size_t position = function.arguments.size();
    std::string label;
    if (entry.name != nullptr) {
      label = entry.name;
      for (size_t a = 0; a < function.arguments.size(); ++a) {
        if (function.arguments[a].name == label) {
          position = a;
          break;
        }
      }
    } else {
      const size_t computed = static_cast<size_t>(i) + pathParameterCount;
      label = FormatMessage("%1", static_cast<uint64_t>(computed));
      if (computed < function.arguments.size()) position = computed;
    }
    if (position >= function.arguments.size()) {
      context.result.SetError(
          FormatMessageTexts("Unknown argument '%1' for '%2'.", {label, function.name}));
      return;
    }
    ValueResult converted = ToValue(entry.value, function.arguments[position].name);
    if (!converted.Ok()) {
      context.result.SetError(converted.ErrorText());
      return;
    }
    values[position].Swap(converted.value());
  }
}

// The argument values of one call: in place for up to eight arguments, so
// that a call allocates nothing for them; more go on the heap.
class ArgumentValues {
 public:
  explicit ArgumentValues(size_t count) {
    if (count > kLocal) {
      many_.resize(count);
      values_ = many_;
      return;
    }
    auto* first = reinterpret_cast<Value*>(local_);
    for (size_t i = 0; i < count; ++i) new (first + i) Value();
    values_ = std::span<Value>(first, count);
    inPlace_ = true;
  }
  ~ArgumentValues() {
    if (!inPlace_) return;
    for (Value& value : values_) value.~Value();
  }
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;

  std::span<Value> Get() { return values_; }

 private:
  static constexpr size_t kLocal = 8;
  alignas(Value) unsigned char local_[kLocal * sizeof(Value)];
  std::vector<Value> many_;
  std::span<Value> values_;
  bool inPlace_ = false;
};

char* CopyText(std::string_view text) {
  return CountedCopy(text.data(), text.size());
}

void FillResponse(CallContext& context, const FunctionDescriptor* function,
                  HostResponse& response) {
  if (!context.result.Ok()) {
    SetResponseError(response, context.result.ErrorText());
  } else if (!FromValue(context.result.value(), response.body, context.registry)) {
    // A result the boundary cannot carry is the function's fault, but the
    // caller must still learn that the answer is missing.
    Release(response.body);
    SetResponseError(response, FormatMessageTexts("Couldn't convert the result of '%1'.",
                                                  {function != nullptr ? function->name : ""}));
    if (context.status == 0) context.status = 400;
  }
  response.status = context.status;
  response.contentType = context.contentType.empty() ? "" : CopyText(context.contentType);
  if (!context.responseHeaders.empty()) {
    const size_t count = context.responseHeaders.size();
    auto* headers = static_cast<HostHeader*>(CountedAllocate(count * sizeof(HostHeader)));
    if (headers != nullptr) {
      std::memset(headers, 0, count * sizeof(HostHeader));
      response.headers = headers;
      for (const auto& [name, value] : context.responseHeaders) {
        headers[response.headerCount].name = CopyText(name);
        headers[response.headerCount].value = CopyText(value);
        ++response.headerCount;
      }
    }
  }
  response.flags = context.flags;
  response.kind = context.kind >= 1 && context.kind <= 3 ? context.kind : 0;
  if (context.streamRead != nullptr) {
    response.streamRead = context.streamRead;
    response.streamRelease = context.streamRelease;
    response.streamContext = context.streamContext;
    response.totalLength = context.totalLength;
    context.streamRead = nullptr;
    context.streamRelease = nullptr;
    context.streamContext = nullptr;
  }
}

thread_local CallContext* currentCall = nullptr;

// Makes a context current for the duration of one handler call.
class CurrentCallScope {
 public:
  explicit CurrentCallScope(CallContext& context) : previous_(currentCall) {
    currentCall = &context;
  }
  ~CurrentCallScope() { currentCall = previous_; }
  CurrentCallScope(const CurrentCallScope&) = delete;
  CurrentCallScope& operator=(const CurrentCallScope&) = delete;

 private:
  CallContext* previous_;
};

}  // namespace

bool IsRequestContextType(TypeId type) {
  return type == kRequestContextType || type == kRequestContextTypeAlternate;
}

CallContext* CurrentCallContext() {
  return currentCall;
}

void BindAndCall(CallContext& context, const FunctionDescriptor& function,
                 const ParameterMap& pathParameters, const HostRequest& request) {
  ArgumentValues storage(function.arguments.size());
  std::span<Value> values = storage.Get();
  ValueResult& result = context.result;
  for (size_t i = 0; i < function.arguments.size(); ++i) {
    const ArgumentDescriptor& argument = function.arguments[i];
    if (argument.type.code == TypeCode::Bool && !argument.optional) values[i].SetBool(false);
  }
  std::vector<std::pair<std::string, std::string>> headerCandidates;
  if (request.headers != nullptr) {
    for (const ArgumentDescriptor& argument : function.arguments) {
      if (argument.location != kLocationAnywhere && argument.location != kLocationHeader) continue;
      const std::string lowered = Lower(argument.name);
      for (uint32_t h = 0; h < request.headerCount; ++h) {
        const HostHeader& header = request.headers[h];
        if (header.name != nullptr && lowered == header.name) {
          headerCandidates.emplace_back(argument.name, std::string(TextOf(header.value)));
        }
      }
    }
  }
  const auto query = ParseQuery(TextOf(request.target));
  for (const auto& [key, text] : headerCandidates) {
    AssignKey(result, values, function, key, text, kLocationHeader);
  }
  for (const auto& [key, text] : pathParameters)
    AssignKey(result, values, function, key, text, kLocationPath);
  for (const auto& [key, text] : query)
    AssignKey(result, values, function, key, text, kLocationQuery);
  if (result.Ok()) BindHostArguments(context, values, function, pathParameters.size(), request);
  if (result.Ok() && request.body != nullptr && request.bodyLength > 0) {
    for (size_t i = 0; i < function.arguments.size(); ++i) {
      if (function.arguments[i].location == kLocationBody) {
        ReadBody(result, values[i], request);
        break;
      }
    }
  }
  if (!result.Ok()) return;
  if (function.callable == nullptr) {
    result.SetError("Invalid function");
    context.status = 404;
    return;
  }
  RequestInfo info;
  if (IsRequestContextType(function.callable->ContextType())) {
    info.requestId = request.requestId;
    info.tickTime = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    info.registry = context.registry;
    info.target = std::string(TextOf(request.target));
    info.method = HttpMethodFromHost(static_cast<int32_t>(request.method));
    info.callName = std::string(TextOf(request.callName));
    if (request.headers != nullptr) {
      for (uint32_t h = 0; h < request.headerCount; ++h) {
        info.headers.emplace_back(TextOf(request.headers[h].name), TextOf(request.headers[h].value));
      }
    }
    context.requestInfo = &info;
  }
  // The record lives for this call only: the context must not keep it.
  struct ForgetRequestInfo {
    CallContext& context;
    ~ForgetRequestInfo() { context.requestInfo = nullptr; }
  } forget{context};
  CurrentCallScope scope(context);
  function.callable->Invoke(context, values);
}

void Dispatch(const TypeRegistry* registry, std::span<const Route> table, HostResponse* response,
              const HostRequest* request) {
  if (response == nullptr) return;
  // A record this plugin filled before is released; anything else the host
  // handed over is only cleared, since its pointers are not ours to free.
  if (response->release == &ReleaseResponse) ReleaseResponse(response);
  std::memset(response, 0, sizeof(*response));
  response->release = &ReleaseResponse;
  CallContext context;
  context.registry = registry;
  const FunctionDescriptor* function = nullptr;
  try {
    if (request == nullptr) {
      context.result.SetError("Invalid function");
      context.status = 404;
    } else {
      context.requestId = request->requestId;
      MatchState state;
      state.method = HttpMethodFromHost(static_cast<int32_t>(request->method));
      state.callName = TextOf(request->callName);
      // Routes are matched against the path alone, without the query. Matched
      // as received, a target with "?query" would miss every literal route
      // and a final placeholder would swallow the query, so query arguments
      // could never bind; binding reads the query from the full target.
      const std::string_view target = TextOf(request->target);
      state.target = target.substr(0, target.find('?'));
      if (!SelectRoute(table, state)) {
        context.result.SetError("Invalid function");
        context.status = 404;
      } else {
        function = state.matchedFunction;
        BindAndCall(context, *function, state.parameters, *request);
      }
    }
  } catch (const std::exception& error) {
    context.result.SetError(error.what());
    if (context.status == 0) context.status = 500;
  } catch (...) {
    context.result.SetError("Internal error");
    if (context.status == 0) context.status = 500;
  }
  try {
    FillResponse(context, function, *response);
  } catch (...) {
    ReleaseResponse(response);
    response->status = 500;
  }
}

}  // namespace qmx
