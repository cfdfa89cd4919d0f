// One outside HTTP(S) exchange, as the platform's HTTP client performs it:
// libcurl on Linux (http_exchange_posix.cc), WinHTTP on Windows
// (http_exchange_win32.cc). external_http.cc checks the plugin's request,
// builds the exchange and turns the answer into the plugin's response, so
// that both clients give the same results and the same failure texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmx::host {

// Each outside service may answer with at most this much; more is cut off
// and reported as a failure rather than kept in memory.
inline constexpr size_t kMaxAnswerBytes = 64u << 20;

struct HttpExchange {
  const char* method = "GET";  // "GET", "POST", ...
  std::string url;             // http:// or https://
  std::vector<std::pair<std::string, std::string>> headers;
  bool sendsBody = false;      // POST, PUT and PATCH send one, even when empty
  std::string_view body;
  long timeoutMs = 1;          // for the whole exchange
};

struct HttpAnswer {
  enum Outcome { kAnswered = 0, kNotReached = 1, kTimedOut = 2 };
  Outcome outcome = kNotReached;
  std::string failure;  // why it was not answered, in the client's words
  uint32_t status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // of the final response
  std::string body;
  bool tooLarge = false;  // the body passed kMaxAnswerBytes and was cut off

  // Appends body bytes; false (and tooLarge) once the answer passes the limit.
  bool AddBody(std::string_view bytes);
  // Takes one header line of the response ("Name: value\r\n"); a status line
  // starts a new response (after a redirect or 100 Continue).
  void AddHeaderLine(std::string_view line);
};

// Performs exchange with the platform's client. Never throws.
HttpAnswer PerformExchange(const HttpExchange& exchange);

}  // namespace qmx::host
