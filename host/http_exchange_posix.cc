#include <curl/curl.h>

#include <mutex>

#include "http_exchange.h"

namespace qmx::host {
namespace {

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  size_t bytes = size * count;
  return static_cast<HttpAnswer*>(user)->AddBody(std::string_view(data, bytes)) ? bytes : 0;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  static_cast<HttpAnswer*>(user)->AddHeaderLine(std::string_view(data, size * count));
  return size * count;
}

}  // namespace

HttpAnswer PerformExchange(const HttpExchange& exchange) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  HttpAnswer answer;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.failure = "the HTTP client could not start";
    return answer;
  }
  curl_slist* headers = nullptr;
  for (const auto& [name, value] : exchange.headers) {
    std::string line = name + ": " + value;
    headers = curl_slist_append(headers, line.c_str());
  }
  // libcurl adds "Expect: 100-continue" to larger bodies; the services answer at once.
  headers = curl_slist_append(headers, "Expect:");

  curl_easy_setopt(curl, CURLOPT_URL, exchange.url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, exchange.method);
  if (std::string_view(exchange.method) == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (exchange.sendsBody) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, exchange.body.data() != nullptr ? exchange.body.data() : "");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(exchange.body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, exchange.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer);

  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) {
    answer.outcome = code == CURLE_OPERATION_TIMEDOUT ? HttpAnswer::kTimedOut : HttpAnswer::kNotReached;
    answer.failure = curl_easy_strerror(code);
    return answer;
  }
  answer.outcome = HttpAnswer::kAnswered;
  answer.status = static_cast<uint32_t>(status);
  return answer;
}

}  // namespace qmx::host
