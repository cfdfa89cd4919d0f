// A TestHost that answers on its own: each JSON-API request from the JSON
// text kept for its target, each outside request with one service answer.
// The plugin tests, the harness and the benchmarks use it as their host.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "interface/host_api.h"
#include "support/test_host.h"

namespace qmx::test {

// The outside service's answer, copied into every ExternalResponse.
struct ServiceAnswer {
  int32_t result = 0;
  uint32_t status = 200;
  std::string body;
  bool nullBody = false;  // body pointer null, length as body.size()
  HostHeader* headers = nullptr;
  uint32_t headerCount = 0;
  ExternalResponseReleaseFn release = nullptr;
};

class StateHost : public TestHost {
 public:
  explicit StateHost(Mode mode = Mode::kRecording);

  // JSON-API answers by target: the JSON text built into the body of a 200
  // answer, released by the answer's release function. Other targets answer
  // 404 "not found".
  std::map<std::string, std::string> states;
  // Scripted answers by target, taking precedence over states.
  std::map<std::string, std::function<void(HostResponse*)>> answers;
  ServiceAnswer service;
};

}  // namespace qmx::test
