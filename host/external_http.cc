#include "external_http.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host_text.h"

namespace qmx::host {
namespace {

// Each outside service may answer with at most this much; more is cut off
// and reported as a failure rather than kept in memory.
constexpr size_t kMaxAnswerBytes = 64u << 20;

void ReleaseExternalResponse(ExternalResponse* response) {
  if (response == nullptr) return;
  for (uint32_t i = 0; response->headers != nullptr && i < response->headerCount; ++i) {
    std::free(const_cast<char*>(response->headers[i].name));
    std::free(const_cast<char*>(response->headers[i].value));
  }
  delete[] response->headers;
  std::free(const_cast<uint8_t*>(response->body));
  response->headers = nullptr;
  response->headerCount = 0;
  response->body = nullptr;
  response->bodyLength = 0;
}

void SetBody(ExternalResponse& response, std::string_view text) {
  char* copy = CopyText(text);
  response.body = reinterpret_cast<const uint8_t*>(copy);
  response.bodyLength = copy != nullptr ? static_cast<uint32_t>(text.size()) : 0;
}

struct Collected {
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* collected = static_cast<Collected*>(user);
  size_t bytes = size * count;
  if (collected->body.size() + bytes > kMaxAnswerBytes) {
    collected->tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  collected->body.append(data, bytes);
  return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* collected = static_cast<Collected*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    collected->headers.clear();  // a new response (after a redirect or 100 Continue)
    return line.size();
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  auto trim = [](std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
      text.remove_suffix(1);
    return std::string(text);
  };
  collected->headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  return line.size();
}

const char* CurlMethod(uint32_t method) {
  switch (method) {
    case HostMethodDelete: return "DELETE";
    case HostMethodGet: return "GET";
    case HostMethodHead: return "HEAD";
    case HostMethodOptions: return "OPTIONS";
    case HostMethodPatch: return "PATCH";
    case HostMethodPost: return "POST";
    case HostMethodPut: return "PUT";
    default: return nullptr;
  }
}

bool SafeText(const char* text) { return text != nullptr; }

}  // namespace

ExternalCallRecord PerformExternalRequest(const ExternalRequest& request, ExternalResponse& response,
                                          double timeoutSeconds) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  ExternalCallRecord record;
  record.method = request.method;
  record.url = SafeText(request.url) ? request.url : "";
  response.release = &ReleaseExternalResponse;
  auto refuse = [&](std::string reason) {
    response.result = -1;
    SetBody(response, reason);
    record.result = -1;
    record.failure = std::move(reason);
    return record;
  };

  const char* method = CurlMethod(request.method);
  if (method == nullptr) return refuse("unsupported method " + std::to_string(request.method));
  if (record.url.empty()) return refuse("no URL");
  if (!record.url.starts_with("http://") && !record.url.starts_with("https://"))
    return refuse("only http and https URLs are served");
  if (request.bodyLength != 0 && request.body == nullptr) return refuse("body was null");
  if (request.headerCount != 0 && request.headers == nullptr) return refuse("headers was null");

  CURL* curl = curl_easy_init();
  if (curl == nullptr) return refuse("the HTTP client could not start");

  curl_slist* headers = nullptr;
  for (uint32_t i = 0; i < request.headerCount; ++i) {
    const HostHeader& header = request.headers[i];
    if (!SafeText(header.name) || !SafeText(header.value)) continue;
    std::string line = std::string(header.name) + ": " + header.value;
    headers = curl_slist_append(headers, line.c_str());
  }
  // libcurl adds "Expect: 100-continue" to larger bodies; the services answer at once.
  headers = curl_slist_append(headers, "Expect:");

  Collected collected;
  long timeoutMs = static_cast<long>(timeoutSeconds * 1000);
  if (timeoutMs <= 0) timeoutMs = 1;
  curl_easy_setopt(curl, CURLOPT_URL, record.url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  if (request.method == HostMethodHead) curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (request.bodyLength != 0 || request.method == HostMethodPost || request.method == HostMethodPut ||
      request.method == HostMethodPatch) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body != nullptr ? request.body : reinterpret_cast<const uint8_t*>(""));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.bodyLength));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &collected);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &collected);

  auto started = std::chrono::steady_clock::now();
  CURLcode code = curl_easy_perform(curl);
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);

  if (code != CURLE_OK) {
    record.result = code == CURLE_OPERATION_TIMEDOUT ? 2 : 1;
    record.failure = collected.tooLarge ? "the answer exceeded " + std::to_string(kMaxAnswerBytes) + " bytes"
                                        : curl_easy_strerror(code);
    response.result = record.result;
    SetBody(response, record.failure);
    return record;
  }

  record.status = static_cast<uint32_t>(status);
  response.result = 0;
  response.status = record.status;
  if (!collected.headers.empty()) {
    response.headers = new HostHeader[collected.headers.size()];
    response.headerCount = static_cast<uint32_t>(collected.headers.size());
    for (size_t i = 0; i < collected.headers.size(); ++i) {
      response.headers[i].name = CopyText(collected.headers[i].first);
      response.headers[i].value = CopyText(collected.headers[i].second);
    }
  }
  if (!collected.body.empty()) SetBody(response, collected.body);
  return record;
}

}  // namespace qmx::host
