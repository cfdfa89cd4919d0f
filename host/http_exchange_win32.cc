#include <windows.h>
#include <winhttp.h>

#include <chrono>

#include "http_exchange.h"

namespace qmx::host {
namespace {

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                      nullptr, nullptr);
  return narrow;
}

// WinHTTP's failures in the words libcurl uses for the same failures, so
// that the host reports the same texts on every platform.
HttpAnswer Failed(HttpAnswer& answer, DWORD error) {
  answer.outcome = HttpAnswer::kNotReached;
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
      answer.outcome = HttpAnswer::kTimedOut;
      answer.failure = "Timeout was reached";
      break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: answer.failure = "Couldn't resolve host name"; break;
    case ERROR_WINHTTP_CANNOT_CONNECT: answer.failure = "Couldn't connect to server"; break;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      answer.failure = "URL using bad/illegal format or missing URL";
      break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: answer.failure = "Weird server reply"; break;
    case ERROR_WINHTTP_SECURE_FAILURE:
      answer.failure = "SSL peer certificate or SSH remote key was not OK";
      break;
    case ERROR_WINHTTP_CONNECTION_ERROR: answer.failure = "Failure when receiving data from the peer"; break;
    default: answer.failure = "WinHTTP error " + std::to_string(error); break;
  }
  return answer;
}

// Closes a WinHTTP handle when it goes out of scope.
struct Handle {
  HINTERNET handle = nullptr;
  Handle(HINTERNET h) : handle(h) {}
  ~Handle() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  explicit operator bool() const { return handle != nullptr; }
};

}  // namespace

HttpAnswer PerformExchange(const HttpExchange& exchange) {
  HttpAnswer answer;
  std::wstring url = Wide(exchange.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return Failed(answer, GetLastError());
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(exchange.timeoutMs);
  int timeout = static_cast<int>(exchange.timeoutMs);
  Handle session(WinHttpOpen(L"qmx-host", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    answer.failure = "the HTTP client could not start";
    return answer;
  }
  WinHttpSetTimeouts(session.handle, timeout, timeout, timeout, timeout);
  Handle connection(WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0));
  if (!connection) return Failed(answer, GetLastError());
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  std::wstring method = Wide(exchange.method);
  Handle request(WinHttpOpenRequest(connection.handle, method.c_str(), path.c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request) return Failed(answer, GetLastError());

  std::wstring headers;
  for (const auto& [name, value] : exchange.headers) headers += Wide(name + ": " + value + "\r\n");
  if (!headers.empty() &&
      !WinHttpAddRequestHeaders(request.handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    return Failed(answer, GetLastError());
  }
  void* body = exchange.sendsBody ? const_cast<char*>(exchange.body.data()) : WINHTTP_NO_REQUEST_DATA;
  DWORD bodyLength = exchange.sendsBody ? static_cast<DWORD>(exchange.body.size()) : 0;
  if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodyLength, bodyLength, 0) ||
      !WinHttpReceiveResponse(request.handle, nullptr)) {
    return Failed(answer, GetLastError());
  }

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failed(answer, GetLastError());
  }
  size = 0;
  WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr,
                      &size, WINHTTP_NO_HEADER_INDEX);
  if (size > 0) {
    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                            raw.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
      raw.resize(size / sizeof(wchar_t));
      std::string lines = Narrow(raw);
      for (size_t start = 0; start < lines.size();) {
        size_t end = lines.find('\n', start);
        end = end == std::string::npos ? lines.size() : end + 1;
        answer.AddHeaderLine(std::string_view(lines).substr(start, end - start));
        start = end;
      }
    }
  }

  char buffer[16384];
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.handle, buffer, sizeof buffer, &read)) return Failed(answer, GetLastError());
    if (read == 0) break;
    if (!answer.AddBody(std::string_view(buffer, read))) {
      answer.outcome = HttpAnswer::kNotReached;
      answer.failure = "Failed writing received data to disk/application";
      return answer;
    }
    if (std::chrono::steady_clock::now() > deadline) return Failed(answer, ERROR_WINHTTP_TIMEOUT);
  }
  answer.outcome = HttpAnswer::kAnswered;
  answer.status = status;
  return answer;
}

}  // namespace qmx::host
