#include "routing/http.h"

#include "interface/host_api.h"

namespace qmx {
namespace {

// The router's methods and the host records' codes are one numbering.
static_assert(static_cast<int32_t>(HttpMethod::kNone) == HostMethodNone);
static_assert(static_cast<int32_t>(HttpMethod::kDelete) == HostMethodDelete);
static_assert(static_cast<int32_t>(HttpMethod::kGet) == HostMethodGet);
static_assert(static_cast<int32_t>(HttpMethod::kHead) == HostMethodHead);
static_assert(static_cast<int32_t>(HttpMethod::kOptions) == HostMethodOptions);
static_assert(static_cast<int32_t>(HttpMethod::kPatch) == HostMethodPatch);
static_assert(static_cast<int32_t>(HttpMethod::kPost) == HostMethodPost);
static_assert(static_cast<int32_t>(HttpMethod::kPut) == HostMethodPut);
static_assert(static_cast<int32_t>(HttpMethod::kCall) == HostMethodCall);

}  // namespace

std::string_view HttpMethodName(HttpMethod method) {
  switch (method) {
    case HttpMethod::kDelete: return "DELETE";
    case HttpMethod::kGet: return "GET";
    case HttpMethod::kHead: return "HEAD";
    case HttpMethod::kOptions: return "OPTIONS";
    case HttpMethod::kPatch: return "PATCH";
    case HttpMethod::kPost: return "POST";
    case HttpMethod::kPut: return "PUT";
    default: return "";
  }
}

HttpMethod HttpMethodFromHost(int32_t code) {
  return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::kNone;
}

}  // namespace qmx
