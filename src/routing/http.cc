#include "routing/http.h"

namespace qmx {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

bool IsContentType(std::string_view text, std::string_view type) {
  if (text.size() < type.size()) return false;
  for (size_t i = 0; i < type.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(type[i])) return false;
  }
  return true;
}

}  // namespace qmx
