// The host's JSON API over HTTP on loopback, for a person with curl:
//
//   GET/PUT/POST/DELETE <path>     the JSON API (resources and the plugin's
//                                  endpoints); bodies are JSON
//   GET /qmx-host/v1/memory        the plugin's allocation counters
//
// Answers are JSON: the resource or endpoint answer, or {"error": "..."} with
// the status of the failure.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "common/result.h"
#include "reference_host.h"

namespace httplib {
class Server;
}

namespace qmx::host {

class HttpFront {
 public:
  static constexpr const char* kMemoryPath = "/qmx-host/v1/memory";

  explicit HttpFront(ReferenceHost& host);
  ~HttpFront();  // stops the server
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Listens on "ADDRESS:PORT" (port 0 takes a free one). Only loopback
  // addresses are accepted: the API has no authentication.
  // The reason on failure.
  Result<void, std::string> Start(const std::string& listen);
  void Stop();
  std::string Url() const;

 private:
  ReferenceHost& host_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::string address_;
  int port_ = 0;
};

// The counters as JSON members, with the bytes and blocks in use.
Value MemoryStatsValue(const MemoryStats& stats);

}  // namespace qmx::host
