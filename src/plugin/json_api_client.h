// JsonApiClient: calls of the host's local JSON API, synchronous on the
// caller's thread.
//
// A call sends a method, a path and at most one unnamed argument (a Structure
// of the parameters) and reports the host's failure as a RequestError. The
// typed forms read the answer's body, streamed or whole, and convert it.
// Conversions between native records and values use the registry given with
// SetRegistry; without one every conversion fails with "no type registry".
//
// Thread safety: none needed beyond the caller's; while a streamed answer is
// read the client yields to the host, which may run other plugin callbacks on
// this thread in the meantime.
#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <string_view>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"
#include "binding/value.h"
#include "common/result.h"
#include "plugin/host_operations.h"
#include "interface/host_api.h"
#include "routing/request_error.h"

namespace qmx {

// Converts data into out under the name given in messages, with registry's
// descriptor of T; a failure carries the conversion's message.
template <typename T>
Result<void, std::string> ConvertFromValue(const TypeRegistry* registry, const Value& data, T& out,
                                           const char* name) {
  if (registry == nullptr) return Fail(std::string("no type registry"));
  ValueResult result;
  NativeCodec<T>().NativeFromValue(result, &out, data, name, registry->FindType(TypeIdOf<T>()),
                                   *registry, 0);
  if (!result.Ok()) return Fail(std::string(result.ErrorText()));
  return {};
}

// record as a Value, or the conversion's message.
template <typename T>
Result<Value, std::string> ConvertToValue(const TypeRegistry* registry, const T& record) {
  if (registry == nullptr) return Fail(std::string("no type registry"));
  ValueResult converted;
  NativeCodec<T>().NativeToValue(converted, &record, registry->FindType(TypeIdOf<T>()), *registry);
  if (!converted.Ok()) return Fail(std::string(converted.ErrorText()));
  return std::move(converted.value());
}

class JsonApiClient {
 public:
  // host carries the calls; it must outlive the client.
  explicit JsonApiClient(HostOperations& host) : host_(host) {}
  JsonApiClient(const JsonApiClient&) = delete;
  JsonApiClient& operator=(const JsonApiClient&) = delete;

  void SetRegistry(const TypeRegistry* registry) { registry_ = registry; }
  const TypeRegistry* Registry() const { return registry_; }

  // method is the host record's code (HostMethodGet, HostMethodPost, ...).
  // A call without an argument; the answer's body is not read.
  RequestResult<> Request(uint32_t method, const std::string& path);
  // parameters: a Structure with one member per parameter (Empty: none); it
  // travels as one unnamed argument. Any other kind is refused with 400 and
  // nothing is sent.
  RequestResult<> Request(uint32_t method, const std::string& path, const Value& parameters);
  // A native record of a registered type as the argument.
  template <typename T>
  RequestResult<> RequestRecord(uint32_t method, const std::string& path, const T& record);
  template <typename T>
  RequestResult<> Post(const std::string& path, const T& record) {
    return RequestRecord(HostMethodPost, path, record);
  }
  // The answer's body as a Value: read from the stream as JSON when the host
  // streams it, otherwise taken over from the response record.
  RequestResult<Value> RequestValue(uint32_t method, const std::string& path);
  // The answer's body converted to T.
  template <typename T>
  RequestResult<T> RequestTyped(uint32_t method, const std::string& path);

  // Settings of the data store: the install and system setting called name.
  RequestResult<Value> GetInstallSetting(const std::string& name);
  RequestResult<Value> GetSystemSetting(const std::string& name);

  // Posts the event to "/telemetry/v1/events/<eventName>"; the future is ready
  // when this returns.
  std::future<RequestResult<>> SendTelemetry(const std::string& eventName, const Value& parameters);

 private:
  // "Error converting response for {method} {url}: {error}", code 0.
  static RequestError ConversionError(uint32_t method, const std::string& path, std::string_view error);
  // Sends the call unless conversionError says the parameters could not be
  // converted. keep, when not null, receives the host's response and the
  // caller releases it; otherwise it is released here.
  RequestResult<> Send(uint32_t method, const std::string& path, const Value* parameters,
                       const std::string& conversionError, HostResponse* keep);

  HostOperations& host_;
  const TypeRegistry* registry_ = nullptr;
};

template <typename T>
RequestResult<T> JsonApiClient::RequestTyped(uint32_t method, const std::string& path) {
  RequestResult<Value> answer = RequestValue(method, path);
  if (!answer) return Fail(std::move(answer).error());
  T native{};
  Result<void, std::string> converted =
      ConvertFromValue(registry_, answer.value(), native, "<result>");
  if (!converted) return Fail(ConversionError(method, path, converted.error()));
  return native;
}

template <typename T>
RequestResult<> JsonApiClient::RequestRecord(uint32_t method, const std::string& path, const T& record) {
  Result<Value, std::string> converted = ConvertToValue(registry_, record);
  if (!converted) return Send(method, path, nullptr, converted.error(), nullptr);
  return Send(method, path, &converted.value(), {}, nullptr);
}

}  // namespace qmx
