// ExternalRequestClient: plain HTTP requests to outside services, which the
// host performs on the plugin's behalf, synchronous on the caller's thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "plugin/host_operations.h"

namespace qmx {

// What a caller fills to call an outside HTTP service.
struct ExternalRequestSpec {
  uint32_t method = 0;
  std::string url;
  std::map<std::string, std::string> headers;
  std::string body;
  uint32_t setting1 = 0;  // passed through to the host
  uint32_t setting2 = 1;  // passed through to the host
};

// What the caller gets back.
struct ExternalAnswer {
  // The host's result code: -1, 0, 1 and 2 kept, anything else becomes 1; 0
  // means the service answered.
  int32_t resultCode = 0;
  int32_t status = -1;            // HTTP status; -1 when resultCode is not 0
  int32_t conversionFailed = -1;  // 1: headers or body missing; -1 when resultCode is not 0
  int32_t reserved = -1;
  std::string message;  // empty on success; the failure text otherwise
  std::map<std::string, std::string> headers;
  std::string body;

  // Whether the service answered with a 2xx status that was taken over
  // whole: result code 0, no failure message, 200 <= status <= 299 and no
  // conversion failure.
  bool Succeeded() const {
    return resultCode == 0 && message.empty() && status >= 200 && status <= 299 &&
           conversionFailed == 0;
  }
};

class ExternalRequestClient {
 public:
  // host carries the requests; it must outlive the client.
  explicit ExternalRequestClient(HostOperations& host) : host_(host) {}
  ExternalRequestClient(const ExternalRequestClient&) = delete;
  ExternalRequestClient& operator=(const ExternalRequestClient&) = delete;

  // Sent as "user-agent" with every request whose spec names none.
  void SetUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }
  const std::string& UserAgent() const { return userAgent_; }

  // Has the host perform the request and takes its answer over; the host's
  // response record is released before this returns.
  ExternalAnswer SendRequest(const ExternalRequestSpec& spec);

 private:
  HostOperations& host_;
  std::string userAgent_;
};

}  // namespace qmx
