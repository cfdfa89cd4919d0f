#include "plugin/json_api_client.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "common/scope_exit.h"
#include "interface/host_value.h"
#include "messages/message_format.h"
#include "plugin/named_message.h"
#include "routing/http.h"
#include "serialization/json.h"

namespace qmx {
namespace {

constexpr const char* kNotSent = "Request not sent: Error converting parameters for {method} {url}: {error}";
constexpr const char* kErrorResponse = "Error response for {method} {url}: {error}";
constexpr const char* kStreamError = "Error reading streamed response for {method} {url}: {error}";
constexpr const char* kConvertError = "Error converting response for {method} {url}: {error}";

constexpr uint32_t kStreamChunk = 4096;
// A total-length hint is only a hint: never reserve more than this up front.
constexpr uint64_t kMaxReserve = 16u << 20;

// A RequestError from one of the "{method} {url}: {error}" templates.
RequestError NamedError(int32_t code, const char* format, uint32_t method, const std::string& url,
                        std::string_view error) {
  Value values[3];
  values[0].SetString(HttpMethodName(HttpMethodFromHost(static_cast<int32_t>(method))));
  values[1].SetString(url);
  values[2].SetString(error);
  NamedMessage named = FormatNamed(format, values);
  RequestError failure;
  failure.code = code;
  failure.message = std::move(named.text);
  failure.fields.Swap(named.fields);
  if (code != 0) failure.fields.Member("errorCode_int").SetSigned(code);
  return failure;
}

// Gives a response record back to the host: its stream first, then the record.
void ReleaseHostResponse(HostResponse& response) {
  if (response.streamRelease != nullptr) response.streamRelease(response.streamContext);
  if (response.release != nullptr) response.release(&response);
}

// Reads a streamed body to its end, yielding to the host after every short
// chunk that leaves more to come; fails with "Stream read error" when the
// host's reader fails.
Result<std::string, std::string> ReadStream(HostOperations& host, const HostResponse& response) {
  std::string text;
  uint64_t hint = response.totalLength & 0xFFFFFFFFu;
  text.reserve(static_cast<size_t>(std::min(hint, kMaxReserve)));
  bool more = true;
  std::vector<uint8_t> buffer(kStreamChunk);
  while (more) {
    uint32_t size = kStreamChunk;
    if (!response.streamRead(response.streamContext, buffer.data(), &size, &more))
      return Fail(std::string("Stream read error"));
    size = std::min(size, kStreamChunk);  // never read past what we handed over
    text.append(reinterpret_cast<const char*>(buffer.data()), size);
    if (size < kStreamChunk && more) {
      host.BeginWait("Wait: yield", 0);
      host.YieldThread();
      host.EndWait();
    }
  }
  return text;
}

}  // namespace

RequestResult<> JsonApiClient::Send(uint32_t method, const std::string& path, const Value* parameters,
                                    const std::string& conversionError, HostResponse* keep) {
  if (!conversionError.empty()) {
    return Fail(NamedError(400, kNotSent, method, path, conversionError));
  }
  HostArgument argument{};
  AtScopeExit releaseArgument([&] { Release(argument.value); });
  if (parameters != nullptr && !FromValue(*parameters, argument.value, registry_)) {
    return Fail(NamedError(400, kNotSent, method, path, "the parameters could not be converted"));
  }
  HostRequest request{};
  request.method = method;
  request.target = path.c_str();
  request.arguments = parameters != nullptr ? &argument : nullptr;
  request.argumentCount = parameters != nullptr ? 1 : 0;
  request.requestId = host_.HostCookie();
  HostResponse local{};
  HostResponse* response = keep != nullptr ? keep : &local;
  std::memset(static_cast<void*>(response), 0, sizeof *response);
  // A kept response is released by the caller's own guard.
  AtScopeExit releaseResponse([&] {
    if (keep == nullptr) ReleaseHostResponse(*response);
  });
  host_.CallJsonApi(response, &request);
  if (response->error != nullptr) {
    return Fail(NamedError(static_cast<int32_t>(response->status), kErrorResponse, method, path,
                           response->error));
  }
  return {};
}

RequestResult<> JsonApiClient::Request(uint32_t method, const std::string& path) {
  return Send(method, path, nullptr, {}, nullptr);
}

RequestResult<> JsonApiClient::Request(uint32_t method, const std::string& path, const Value& parameters) {
  // Parameters travel as one structure of named members. An Empty value
  // names none; anything else would be lost in the conversion, so it is
  // refused before anything is sent.
  if (parameters.IsEmpty()) {
    Value structure;
    structure.MakeStructure();
    return Send(method, path, &structure, {}, nullptr);
  }
  if (parameters.Kind() != ValueKind::Structure) {
    return Send(method, path, nullptr,
                FormatMessage("the parameters must be a structure, not a value of kind '%1'",
                              KindName(parameters.Kind())),
                nullptr);
  }
  return Send(method, path, &parameters, {}, nullptr);
}

RequestResult<Value> JsonApiClient::RequestValue(uint32_t method, const std::string& path) {
  HostResponse response{};
  AtScopeExit releaseResponse([&] { ReleaseHostResponse(response); });
  RequestResult<> sent = Send(method, path, nullptr, {}, &response);
  if (!sent) return Fail(std::move(sent).error());
  if (response.streamRead != nullptr) {
    Result<std::string, std::string> text = ReadStream(host_, response);
    if (!text) return Fail(NamedError(0, kStreamError, method, path, text.error()));
    ValueResult parsed = ReadJson(text.value());
    if (!parsed.Ok()) return Fail(NamedError(0, kStreamError, method, path, parsed.ErrorText()));
    return std::move(parsed.value());
  }
  ValueResult converted = ToValue(response.body, "<result>");
  if (!converted.Ok()) return Fail(NamedError(0, kConvertError, method, path, converted.ErrorText()));
  return std::move(converted.value());
}

RequestError JsonApiClient::ConversionError(uint32_t method, const std::string& path, std::string_view error) {
  return NamedError(0, kConvertError, method, path, error);
}

RequestResult<Value> JsonApiClient::GetInstallSetting(const std::string& name) {
  return RequestValue(HostMethodGet, "/data-store/v1/install-settings/" + name);
}

RequestResult<Value> JsonApiClient::GetSystemSetting(const std::string& name) {
  return RequestValue(HostMethodGet, "/data-store/v1/system-settings/" + name);
}

std::future<RequestResult<>> JsonApiClient::SendTelemetry(const std::string& eventName,
                                                          const Value& parameters) {
  std::promise<RequestResult<>> promise;
  promise.set_value(Request(HostMethodPost, "/telemetry/v1/events/" + eventName, parameters));
  return promise.get_future();
}

}  // namespace qmx
