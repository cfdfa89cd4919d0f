// A demo entitlements service on loopback, for the demo and the end-to-end
// tests.
//
//   POST /entitlements          with "Authorization: Bearer <access token>"
//       200 {"entitlements_token": "<header>.<claims>.<signature>"}, whose
//       claims hold "sub", "iss", "iat" and "entitlements"; 401 without a
//       bearer. The subject is the access token's text before its first ':'
//       ("alice:..." gives "alice"), or "demo-user".
//   POST /control/fail?count=N                 the next N token requests get 503
//   POST /control/hang?count=N&seconds=S       the next N wait S seconds, then 503
//   PUT  /control/entitlements  ["a", "b"]     the list later tokens grant
//   GET  /control/stats                        {"requests": n, "issued": n}
//
// The signature is not a real one: nothing verifies it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"

namespace httplib {
class Server;
}

namespace qmx::host {

class DemoService {
 public:
  static constexpr const char* kIssuer = "https://entitlements.demo.invalid";

  DemoService();
  ~DemoService();  // stops the server
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  // Listens on address:port (port 0 takes a free one); the reason on failure.
  Result<void, std::string> Start(const std::string& address, int port);
  void Stop();

  int Port() const { return port_; }
  // The URL of the token endpoint, for "region_data".
  std::string TokenUrl() const;

  void FailNext(int count);
  void HangNext(int count, double seconds);
  void SetEntitlements(std::vector<std::string> entitlements);

  int Requests() const { return requests_; }
  // Every token handed out so far, in order.
  std::vector<std::string> IssuedTokens() const;

 private:
  // What to do with the next token request.
  enum class Next { Answer, Fail, Hang };
  Next TakeNext(double& hangSeconds);
  std::string IssueToken(const std::string& accessToken);
  void RegisterRoutes();

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::string address_;
  int port_ = 0;
  std::atomic<int> requests_{0};

  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  int failNext_ = 0;
  int hangNext_ = 0;
  double hangSeconds_ = 0;
  std::vector<std::string> entitlements_{"entitlement.base", "entitlement.cloud-sync"};
  std::vector<std::string> issued_;
  uint64_t serial_ = 0;
};

}  // namespace qmx::host
