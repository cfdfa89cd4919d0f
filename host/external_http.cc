#include "external_http.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host_text.h"
#include "http_exchange.h"

namespace qmx::host {
namespace {

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

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return std::string(text);
}

const char* RequestMethodName(uint32_t method) {
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

  const char* method = RequestMethodName(request.method);
  if (method == nullptr) return refuse("unsupported method " + std::to_string(request.method));
  if (record.url.empty()) return refuse("no URL");
  if (!record.url.starts_with("http://") && !record.url.starts_with("https://"))
    return refuse("only http and https URLs are served");
  if (request.bodyLength != 0 && request.body == nullptr) return refuse("body was null");
  if (request.headerCount != 0 && request.headers == nullptr) return refuse("headers was null");

  HttpExchange exchange;
  exchange.method = method;
  exchange.url = record.url;
  for (uint32_t i = 0; i < request.headerCount; ++i) {
    const HostHeader& header = request.headers[i];
    if (SafeText(header.name) && SafeText(header.value)) exchange.headers.emplace_back(header.name, header.value);
  }
  exchange.sendsBody = request.bodyLength != 0 || request.method == HostMethodPost ||
                       request.method == HostMethodPut || request.method == HostMethodPatch;
  exchange.body = std::string_view(reinterpret_cast<const char*>(request.body), request.bodyLength);
  exchange.timeoutMs = std::max(1L, static_cast<long>(timeoutSeconds * 1000));

  auto started = std::chrono::steady_clock::now();
  HttpAnswer answer = PerformExchange(exchange);
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (answer.outcome != HttpAnswer::kAnswered) {
    record.result = answer.outcome;
    record.failure = answer.tooLarge ? "the answer exceeded " + std::to_string(kMaxAnswerBytes) + " bytes"
                                     : answer.failure;
    response.result = record.result;
    SetBody(response, record.failure);
    return record;
  }

  record.status = answer.status;
  response.result = 0;
  response.status = record.status;
  if (!answer.headers.empty()) {
    response.headers = new HostHeader[answer.headers.size()];
    response.headerCount = static_cast<uint32_t>(answer.headers.size());
    for (size_t i = 0; i < answer.headers.size(); ++i) {
      response.headers[i].name = CopyText(answer.headers[i].first);
      response.headers[i].value = CopyText(answer.headers[i].second);
    }
  }
  if (!answer.body.empty()) SetBody(response, answer.body);
  return record;
}

bool HttpAnswer::AddBody(std::string_view bytes) {
  if (body.size() + bytes.size() > kMaxAnswerBytes) {
    tooLarge = true;
    return false;
  }
  body.append(bytes);
  return true;
}

void HttpAnswer::AddHeaderLine(std::string_view line) {
  if (line.starts_with("HTTP/")) {
    headers.clear();  // a new response (after a redirect or 100 Continue)
    return;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
}

}  // namespace qmx::host
